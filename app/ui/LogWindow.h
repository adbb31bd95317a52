#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include "core/ICWString.h"

// The main window "Orvanta": the start-up log. Texts may arrive from any thread; they are added
// in order on the user-interface thread. Closing it only hides it.
class CLogWindow final : public QWidget {
public:
    CLogWindow();

    // Thread-safe; "\r\n" ends lines.
    void AppendLog(const ICWString& text);
    QString LogText() const { return view->toPlainText(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Append(const QString& text);

    QPlainTextEdit* view;
};
