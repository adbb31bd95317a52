#include "app/ui/CTrayIcon.h"

#include <QPainter>
#include <QPixmap>

CTrayIcon::CTrayIcon() {
    const struct {
        int id;
        const char16_t* text;
    } items[] = {{kWatch, u"視聴"},
                 {kGuide, u"EPG"},
                 {kReservations, u"録画予約"},
                 {kRecordedFiles, u"録画ファイル"},
                 {kSettings, u"設定"},
                 {0, nullptr},
                 {kHelp, u"ヘルプ"},
                 {kUpdateCheck, u"最新版を確認..."},
                 {kHomePage, u"ホームページ"},
                 {0, nullptr},
                 {kExit, u"終了..."}};
    for (const auto& item : items) {
        if (item.text == nullptr) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf16(item.text));
        const int id = item.id;
        QObject::connect(action, &QAction::triggered, [this, id] {
            if (onCommand) {
                onCommand(id);
            }
        });
    }
    tray.setContextMenu(&menu);
    tray.setToolTip(QStringLiteral("Orvanta"));
    QObject::connect(&tray, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::DoubleClick && onCommand) {
                             onCommand(kWatch);
                         }
                     });
    ShowIcon(kIconApplication);
}

void CTrayIcon::Show() {
    tray.show();
}

void CTrayIcon::ShowIcon(int id) {
    if (id != iconShown) {
        iconShown = id;
        tray.setIcon(IconImage(id));
    }
}

QIcon CTrayIcon::IconImage(int id) {
    // A television with a coloured lamp: none (the application), red (a reservation), dark (the
    // blink phase) or blue (the guide sweep).
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 48), 2));
    painter.setBrush(QColor(30, 90, 160));
    painter.drawRoundedRect(QRectF(3, 6, 26, 18), 3, 3);
    painter.drawLine(QPointF(11, 28), QPointF(21, 28));
    painter.drawLine(QPointF(16, 24), QPointF(16, 28));
    QColor lamp;
    if (id == kIconReservation) {
        lamp = QColor(220, 30, 30);
    } else if (id == kIconBlink) {
        lamp = QColor(60, 60, 60);
    } else if (id == kIconEpgSweep) {
        lamp = QColor(40, 200, 255);
    }
    if (lamp.isValid()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(lamp);
        painter.drawEllipse(QPointF(24, 9), 6, 6);
    }
    painter.end();
    return QIcon(picture);
}
