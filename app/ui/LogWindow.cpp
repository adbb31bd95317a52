#include "app/ui/LogWindow.h"

#include <QCloseEvent>
#include <QTextCursor>
#include <QVBoxLayout>

CLogWindow::CLogWindow() {
    setWindowTitle(QStringLiteral("Orvanta"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view = new QPlainTextEdit(this);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(view);
    resize(440, 290);
    setMinimumSize(240, 160);
}

void CLogWindow::AppendLog(const ICWString& text) {
    QString line = text.GetText() != nullptr ? QString::fromUtf16(text.GetText()) : QString();
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMetaObject::invokeMethod(
        this, [this, line] { Append(line); }, Qt::QueuedConnection);
}

void CLogWindow::Append(const QString& text) {
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    view->ensureCursorVisible();
}

void CLogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}
