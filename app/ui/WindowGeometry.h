#pragma once

#include <QObject>
#include <QString>

class QWidget;

// Keeps the place and size of a top-level window between runs, in "Windows.ini" of the Data
// folder: restored when it is kept, written whenever it is hidden or closed. Windows whose
// place the settings file already keeps (the viewer's "Position") do not use it.
class CWindowGeometry final : public QObject {
public:
    // Restores `window` from the entry `name` (when there is one) and keeps it from now on. The
    // keeper belongs to the window.
    static void Keep(QWidget& window, const QString& name, const QString& dataFolder);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CWindowGeometry(QWidget& window, QString name, QString file);
    void Save() const;

    QWidget& window;
    QString name;
    QString file;
};
