#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

#include "app/ui/controls/CDCImage.h"

// The notification codes panels send with a command, as the platform's buttons do.
inline constexpr int kPanelClicked = 0;
inline constexpr int kPanelDoubleClicked = 5;

// A panel the application draws itself: background, border and text painted into an off-screen
// image and copied to the window in one step. It tells the window it lies in about clicks through
// `onCommand` (its id and a notification code), the way a platform control sends its parent a
// command message. The colours start as the desktop's button colours.
class CPanel : public QWidget {
public:
    enum class Border { None, Raised, Sunken, Flat };

    CPanel(QWidget* parent, int id);

    int Id() const { return id; }

    void SetText(const QString& value);
    const QString& Text() const { return text; }
    void SetPanelFont(const QFont& value);
    void SetColors(QColor textColor, QColor faceColor, QColor shadowColor, QColor highlightColor);
    QColor TextColor() const { return textColor; }
    QColor FaceColor() const { return faceColor; }
    // The outer and inner border widths and an extra margin inside them, in pixels.
    void SetBorder(Border style, int outerWidth, int innerWidth = 0, int margin = 0);
    void SetAlignment(Qt::Alignment value);
    // Shifts what the panel shows, for a pressed look.
    void SetContentOffset(QPoint value);
    QPoint ContentOffset() const { return contentOffset; }

    // The space inside the borders and the margin.
    QRect ContentRect() const;
    int BorderTotal() const { return outerWidth + innerWidth + margin; }
    // The panel's size for a content area of `content`.
    QSize OuterSize(QSize content) const;

    // What the panel shows as it would be painted now (for tests and for copying).
    QImage Render();

    std::function<void(int id, int notifyCode)> onCommand;

protected:
    // Paints the whole panel: background, border, then its content.
    virtual void Draw(QPainter& painter);
    // The content inside the borders: the text, by default.
    virtual void DrawContent(QPainter& painter, const QRect& area);
    void DrawBorder(QPainter& painter);
    void SendCommand(int notifyCode);

    void paintEvent(QPaintEvent* event) override;

    QColor textColor;
    QColor faceColor;
    QColor shadowColor;
    QColor highlightColor;

private:
    int id;
    QString text;
    Border borderStyle = Border::None;
    int outerWidth = 0;
    int innerWidth = 0;
    int margin = 0;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QPoint contentOffset;
    CDCImage surface;
};

// A panel that shows an image (a station logo, a picture of the guide) instead of text, scaled
// into its content area with the image's aspect kept.
class CImagePanel : public CPanel {
public:
    using CPanel::CPanel;

    void SetImage(const QImage& value);
    const QImage& PanelImage() const { return image; }

protected:
    void DrawContent(QPainter& painter, const QRect& area) override;

private:
    QImage image;
};

// A button drawn from an image strip. A strip at least twice as wide as the button holds four
// looks side by side: 0 normal, 1 pressed, 3 disabled. Pixels of the transparent colour (white
// unless set) let the panel's face through. Without a strip the button shows its text, grey when
// disabled. A press and release inside sends the command; a double click sends it with the
// double-click code.
class CPanelButton : public CPanel {
public:
    CPanelButton(QWidget* parent, int id);

    void SetStrip(const QImage& value, QColor transparent = Qt::white);
    bool IsPressed() const { return pressed; }
    // The look drawn now: 0 normal, 1 pressed, 3 disabled.
    int Frame() const;

protected:
    void DrawContent(QPainter& painter, const QRect& area) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SetPressed(bool value);

    QImage strip;
    bool pressed = false;
};
