#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "platform/com/ComponentRegistry.h"

class CSettings;
class QCheckBox;
class QComboBox;
class QLineEdit;

// The friendly names of the registered decoders whose input takes one of `inputs`, in the
// registry's order (legacy filter category), each once.
std::vector<std::u16string> DecoderNames(const std::vector<RegPinType>& inputs);

// The general page: the caption font (installed Japanese font families), the MPEG-2 and AAC
// decoders, the timing offsets, mute control, the update check and the daily guide update hour.
// A current value that is not installed still shows, selected.
class CTabGeneral final : public QWidget {
public:
    explicit CTabGeneral(QWidget* parent);

    void Load(const CSettings& settings);
    // Stores the page; true when the caption font changed.
    bool Store(CSettings& settings) const;

    QComboBox& FontList() { return *fontList; }
    QComboBox& VideoDecoderList() { return *videoDecoders; }
    QComboBox& AudioDecoderList() { return *audioDecoders; }
    QLineEdit& FirstIgnoreTime() { return *firstIgnoreTime; }
    QLineEdit& StreamOffset() { return *streamOffset; }
    QCheckBox& MuteControl() { return *muteControl; }
    QCheckBox& UpdateCheck() { return *updateCheck; }
    QComboBox& EpgUpdateHour() { return *epgUpdateHour; }

private:
    QComboBox* fontList;
    QComboBox* videoDecoders;
    QComboBox* audioDecoders;
    QLineEdit* firstIgnoreTime;
    QLineEdit* streamOffset;
    QCheckBox* muteControl;
    QCheckBox* updateCheck;
    QComboBox* epgUpdateHour;
};
