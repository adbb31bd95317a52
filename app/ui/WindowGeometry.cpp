#include "app/ui/WindowGeometry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

CWindowGeometry::CWindowGeometry(QWidget& window, QString name, QString file)
    : QObject(&window), window(window), name(std::move(name)), file(std::move(file)) {}

void CWindowGeometry::Keep(QWidget& window, const QString& name, const QString& dataFolder) {
    if (dataFolder.isEmpty()) {
        return;
    }
    auto* keeper = new CWindowGeometry(window, name, dataFolder + QStringLiteral("/Windows.ini"));
    const QByteArray saved = QSettings(keeper->file, QSettings::IniFormat)
                                 .value(name + QStringLiteral("/Geometry"))
                                 .toByteArray();
    // restoreGeometry keeps the window on a screen that is there now.
    if (!saved.isEmpty()) {
        window.restoreGeometry(saved);
    }
    window.installEventFilter(keeper);
}

bool CWindowGeometry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window && (event->type() == QEvent::Hide || event->type() == QEvent::Close)) {
        Save();
    }
    return false;
}

void CWindowGeometry::Save() const {
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(name + QStringLiteral("/Geometry"), window.saveGeometry());
}
