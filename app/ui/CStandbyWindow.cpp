#include "app/ui/CStandbyWindow.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CStandbyWindow::CStandbyWindow(QWidget* parent) : QDialog(parent), text(new QLabel(this)) {
    setWindowTitle(QStringLiteral("スタンバイ"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void CStandbyWindow::SetSecondsLeft(int seconds) {
    if (seconds <= 0) {
        hide();
        return;
    }
    const QString shown = QStringLiteral("%1 秒後にスタンバイに移行します。").arg(seconds);
    if (shown == text->text() && isVisible()) {
        return;
    }
    text->setText(shown);
    if (!isVisible()) {
        show();
    }
}

QString CStandbyWindow::Text() const {
    return text->text();
}

void CStandbyWindow::reject() {
    if (onCancel) {
        onCancel();
    }
    QDialog::reject();
}
