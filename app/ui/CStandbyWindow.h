#pragma once

#include <QDialog>
#include <functional>

class QLabel;

// The window shown while the standby countdown runs after a reservation woke the computer: the
// seconds left and a button that lets the computer stay on.
class CStandbyWindow final : public QDialog {
public:
    explicit CStandbyWindow(QWidget* parent = nullptr);

    // Shows the seconds left; 0 hides the window.
    void SetSecondsLeft(int seconds);
    QString Text() const;
    // The user chose to stay on.
    std::function<void()> onCancel;

    void reject() override;

private:
    QLabel* text;
};
