#include "app/ui/settings/CTabGeneral.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/stores/CSettings.h"
#include "app/ui/QtText.h"
#include "platform/com/Categories.h"
#include "platform/dshow/DShowGuids.h"

namespace {

bool Accepts(const RegPin& pin, const std::vector<RegPinType>& inputs) {
    for (const RegPinType& type : pin.mediaTypes) {
        for (const RegPinType& wanted : inputs) {
            // A registered null type takes any.
            if ((type.majorType == GUID_NULL || type.majorType == wanted.majorType) &&
                (type.subType == GUID_NULL || type.subType == wanted.subType)) {
                return true;
            }
        }
    }
    return false;
}

// Fills a list and selects `current`, which is added when the list does not have it.
void FillAndSelect(QComboBox& list, const QStringList& names, const QString& current) {
    list.clear();
    list.addItems(names);
    int index = list.findText(current);
    if (index < 0) {
        list.addItem(current);
        index = list.count() - 1;
    }
    list.setCurrentIndex(index);
}

QStringList DecoderList(const std::vector<RegPinType>& inputs) {
    QStringList names;
    for (const std::u16string& name : DecoderNames(inputs)) {
        names << QString::fromStdU16String(name);
    }
    return names;
}

}  // namespace

std::vector<std::u16string> DecoderNames(const std::vector<RegPinType>& inputs) {
    std::vector<CategoryEntry> entries;
    ComponentRegistry::EnumerateCategory(CLSID_LegacyAmFilterCategory, &entries);
    std::vector<std::u16string> names;
    for (const CategoryEntry& entry : entries) {
        for (const RegPin& pin : entry.pins) {
            if (!pin.output && Accepts(pin, inputs)) {
                if (std::find(names.begin(), names.end(), entry.friendlyName) == names.end()) {
                    names.push_back(entry.friendlyName);
                }
                break;
            }
        }
    }
    return names;
}

CTabGeneral::CTabGeneral(QWidget* parent)
    : QWidget(parent),
      fontList(new QComboBox(this)),
      videoDecoders(new QComboBox(this)),
      audioDecoders(new QComboBox(this)),
      firstIgnoreTime(new QLineEdit(this)),
      streamOffset(new QLineEdit(this)),
      muteControl(new QCheckBox(QStringLiteral("ミュートコントロール"), this)),
      updateCheck(new QCheckBox(QStringLiteral("最新版チェック"), this)),
      epgUpdateHour(new QComboBox(this)) {
    for (QLineEdit* number : {firstIgnoreTime, streamOffset}) {
        number->setValidator(new QIntValidator(-999999, 999999, number));
    }
    for (int hour = 0; hour < 24; ++hour) {
        epgUpdateHour->addItem(QStringLiteral("%1時").arg(hour));
    }
    epgUpdateHour->addItem(QStringLiteral("なし"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ARIBフォント"), fontList);
    form->addRow(QStringLiteral("MPEG2デコーダー"), videoDecoders);
    form->addRow(QStringLiteral("AACデコーダー"), audioDecoders);
    form->addRow(QStringLiteral("最初のTSを無視する時間 [ms]"), firstIgnoreTime);
    form->addRow(QStringLiteral("ストリームオフセット [ms]"), streamOffset);
    form->addRow(muteControl);
    form->addRow(updateCheck);
    form->addRow(QStringLiteral("EPG定時更新"), epgUpdateHour);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* note =
        new QLabel(QStringLiteral("フォント、デコーダーの設定は次回起動時から有効になります。"));
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch();
}

void CTabGeneral::Load(const CSettings& settings) {
    FillAndSelect(*fontList, QFontDatabase::families(QFontDatabase::Japanese),
                  ToQString(settings.aribFont));
    FillAndSelect(*videoDecoders, DecoderList({{MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO}}),
                  ToQString(settings.mpeg2Decoder));
    FillAndSelect(*audioDecoders,
                  DecoderList({{MEDIATYPE_Audio, MEDIASUBTYPE_RAW_AAC1},
                               {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_ADTS_AAC},
                               {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG_LOAS}}),
                  ToQString(settings.aacDecoder));
    firstIgnoreTime->setText(QString::number(settings.firstIgnoreTime));
    streamOffset->setText(QString::number(settings.streamOffset));
    muteControl->setChecked(settings.muteControl);
    updateCheck->setChecked(settings.updateCheck);
    const bool hour = settings.epgUpdateTime >= 0 && settings.epgUpdateTime < 24;
    epgUpdateHour->setCurrentIndex(hour ? settings.epgUpdateTime : CSettings::kNoEpgUpdate);
}

bool CTabGeneral::Store(CSettings& settings) const {
    const ICWString font = ToICWString(fontList->currentText());
    const bool fontChanged = !(font == settings.aribFont);
    settings.aribFont = font;
    settings.mpeg2Decoder = ToICWString(videoDecoders->currentText());
    settings.aacDecoder = ToICWString(audioDecoders->currentText());
    settings.firstIgnoreTime = firstIgnoreTime->text().toInt();
    settings.streamOffset = streamOffset->text().toInt();
    settings.muteControl = muteControl->isChecked();
    settings.updateCheck = updateCheck->isChecked();
    const int hour = epgUpdateHour->currentIndex();
    settings.epgUpdateTime = hour >= 0 && hour < 24 ? hour : CSettings::kNoEpgUpdate;
    return fontChanged;
}
