#include "app/ui/ViewingWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/stores/CChannelInfo.h"
#include "app/stores/CTuner.h"

namespace {

constexpr uint32_t kSeekStepMs = 10000;

QString ToQString(const ICWString& text) {
    return text.GetText() != nullptr ? QString::fromUtf16(text.GetText()) : QString();
}

}  // namespace

CViewingWindow::CViewingWindow() {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(320, 200);
    resize(960, 570);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    picture = CreatePictureArea(this);
    picture->Widget()->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(picture->Widget(), 1);
    infoLine = new QLabel(this);
    infoLine->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(infoLine);
    setFocusPolicy(Qt::StrongFocus);
    // Mouse movements over the picture show the control panel.
    setMouseTracking(true);
    picture->Widget()->setMouseTracking(true);
}

CViewingWindow::~CViewingWindow() = default;

void CViewingWindow::SetCaption(const ICWString& caption) {
    baseTitle = ToQString(caption);
    setWindowTitle(baseTitle);
}

void CViewingWindow::AttachPanel(CControlWindow* controlPanel) {
    panel = controlPanel;
    // The window is already shown when its panel is made: a child added later is not shown
    // with it.
    panel->show();
    panel->raise();
}

void CViewingWindow::DropPanel() {
    delete panel;
    panel = nullptr;
}

void CViewingWindow::ShowTypedNumber(int32_t number) {
    setWindowTitle(number != 0 ? QStringLiteral("%1  [%2]").arg(baseTitle).arg(number) : baseTitle);
}

void CViewingWindow::SetPictureSize(int width, int height) {
    if (isFullScreen()) {
        ToggleFullScreen();
    }
    resize(width, height + infoLine->sizeHint().height());
}

void CViewingWindow::ShowAndActivate() {
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
}

void CViewingWindow::Show() {
    show();
    raise();
}

void CViewingWindow::Hide() {
    hide();
}

std::array<int32_t, 4> CViewingWindow::WindowRect() {
    const QRect frame = frameGeometry();
    return {frame.left(), frame.top(), frame.right() + 1, frame.bottom() + 1};
}

void CViewingWindow::RecordingStateChanged(bool isRecording) {
    recording = isRecording;
    UpdateInfoLine();
}

void CViewingWindow::VolumeStateChanged(int32_t level, bool isMuted) {
    volumeLevel = level;
    muted = isMuted;
    UpdateInfoLine();
}

void CViewingWindow::PlaybackEnded() {
    playbackEnded = true;
    UpdateInfoLine();
}

void CViewingWindow::UpdateInfoLine() {
    QStringList parts;
    if (window != nullptr) {
        CViewerGraph& graph = window->Graph();
        const ICWString& service = graph.ServiceName();
        if (!service.IsEmpty()) {
            parts << ToQString(service);
        } else if (graph.Channel() != nullptr) {
            parts << ToQString(graph.Channel()->name);
        }
        if (!graph.CurrentTitle().IsEmpty()) {
            parts << ToQString(graph.CurrentTitle());
        }
    }
    if (!captionsOn) {
        parts << QStringLiteral("字幕オフ");
    }
    if (muted) {
        parts << QStringLiteral("消音");
    }
    if (playbackEnded) {
        parts << QStringLiteral("再生終了");
    }
    QString text = parts.join(QStringLiteral("  ·  "));
    if (recording) {
        text = QStringLiteral("<span style='color:#d00000'>● REC</span>  ") + text.toHtmlEscaped();
        infoLine->setTextFormat(Qt::RichText);
    } else {
        infoLine->setTextFormat(Qt::PlainText);
    }
    infoLine->setText(text);
}

void CViewingWindow::ToggleFullScreen() {
    if (isFullScreen()) {
        showNormal();
        infoLine->show();
    } else {
        infoLine->hide();
        showFullScreen();
    }
}

void CViewingWindow::ToggleCaptions() {
    captionsOn = !captionsOn;
    if (window != nullptr) {
        window->ShowCaptions(captionsOn);
    }
    UpdateInfoLine();
}

void CViewingWindow::ToggleMute() {
    if (window == nullptr) {
        return;
    }
    if (muted) {
        window->SetVolume(volumeBeforeMute > 0 ? volumeBeforeMute : 10);
        muted = false;
    } else {
        volumeBeforeMute = volumeLevel;
        window->Mute();
        muted = true;
    }
    UpdateInfoLine();
}

void CViewingWindow::keyPressEvent(QKeyEvent* event) {
    if (window == nullptr) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Digits type a channel number; Escape leaves full screen.
    if (panel != nullptr &&
        panel->HandleKey(event->key(), event->modifiers().testFlag(Qt::KeypadModifier))) {
        return;
    }
    const bool file = window->Tuner() == nullptr;
    switch (event->key()) {
        case Qt::Key_PageUp:
        case Qt::Key_Up:
            window->ChannelUp();
            break;
        case Qt::Key_PageDown:
        case Qt::Key_Down:
            window->ChannelDown();
            break;
        case Qt::Key_R:
            window->ToggleRecording();
            break;
        case Qt::Key_C:
            ToggleCaptions();
            break;
        case Qt::Key_S:
            window->Snapshot();
            break;
        case Qt::Key_M:
            if (panel != nullptr) {
                panel->ToggleMute();
            } else {
                ToggleMute();
            }
            break;
        case Qt::Key_F:
        case Qt::Key_F11:
            ToggleFullScreen();
            break;
        case Qt::Key_Escape:
            if (isFullScreen()) {
                ToggleFullScreen();
            }
            break;
        case Qt::Key_Space:
            playbackEnded = false;
            window->TogglePause();
            break;
        case Qt::Key_Left:
        case Qt::Key_Right:
            if (file) {
                playbackEnded = false;
                const uint32_t now = window->GetPosition();
                window->SetPosition(event->key() == Qt::Key_Right
                                        ? now + kSeekStepMs
                                        : (now > kSeekStepMs ? now - kSeekStepMs : 0));
            }
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    UpdateInfoLine();
}

void CViewingWindow::mouseDoubleClickEvent(QMouseEvent*) {
    ToggleFullScreen();
}

void CViewingWindow::mouseMoveEvent(QMouseEvent* event) {
    if (panel != nullptr) {
        panel->MouseMoved();
    }
    QWidget::mouseMoveEvent(event);
}

void CViewingWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (panel != nullptr) {
        panel->PopupMenu().popup(event->globalPos());
    }
}

void CViewingWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (window != nullptr) {
        window->Graph().UpdateVideoPosition();
    }
}

void CViewingWindow::closeEvent(QCloseEvent* event) {
    // The engine decides: a recording window only hides, and the user may cancel.
    if (window != nullptr && !window->Close()) {
        event->ignore();
        return;
    }
    event->accept();
}

void CViewingWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (window != nullptr) {
        window->OnShown();
        window->Graph().UpdateVideoPosition();
    }
}

void CViewingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && window != nullptr) {
        window->Activate();
    }
}
