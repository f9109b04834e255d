#include "ui/linux/stimulation_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cmath>

#include "session/session_controller.h"
#include "ui/linux/face_probe.h"
#include "ui/linux/strobe_published.h"
#include "visual/strobe_level.h"

namespace {

std::uint8_t gPaintedLevel = 0;
std::uint64_t gPaintCount = 0;

class StimulationWidget : public QWidget {
public:
    StimulationWidget()
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setAutoFillBackground(false);
        setFocusPolicy(Qt::StrongFocus);
        QPalette black = palette();
        black.setColor(QPalette::Window, Qt::black);
        setPalette(black);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        gPaintedLevel = strobePublishedLevel();
        ++gPaintCount;
        QPainter painter(this);
        painter.fillRect(rect(), QColor::fromRgb(greyColour(gPaintedLevel)));
    }

    // Any key ends the session, whatever it is.
    void keyPressEvent(QKeyEvent* event) override
    {
        event->accept();
        stopSession();
    }

    // The window manager asking to close the window (Alt+F4) ends the session like a
    // key press; the window itself lives on for the next session.
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        stopSession();
    }

    // Clicks do nothing, and must not reach anything behind.
    void mousePressEvent(QMouseEvent*) override {}
    void mouseReleaseEvent(QMouseEvent*) override {}
    void mouseDoubleClickEvent(QMouseEvent*) override {}
};

StimulationWidget* gWindow = nullptr;
QTimer* gFrameTimer = nullptr;

// On X the server fills the window itself: the grey becomes the window's background
// and the whole window is cleared to it, two small requests instead of eight megabytes
// of pixels painted here and copied there every frame. Null on other platforms.
xcb_connection_t* xcbConnection()
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

void fillOnServer(xcb_connection_t* connection, std::uint8_t level)
{
    const auto window = static_cast<xcb_window_t>(gWindow->winId());
    // A grey reads the same in X's 0xRRGGBB as in the strobe's 0xBBGGRR.
    const std::uint32_t pixel = greyColour(level);
    xcb_change_window_attributes(connection, window, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(connection, 0, window, 0, 0, 0, 0);
    xcb_flush(connection);
}

// Once per display frame: repaint only when the strobe has moved to another grey.
void onFrame()
{
    const std::uint8_t level = strobePublishedLevel();
    if (level == gPaintedLevel)
        return;
    if (xcb_connection_t* connection = xcbConnection()) {
        gPaintedLevel = level;
        ++gPaintCount;
        fillOnServer(connection, level);
    } else {
        gWindow->repaint();
    }
}

} // namespace

int frameIntervalMs()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    double rate = screen != nullptr ? screen->refreshRate() : 60.0;
    if (!(rate >= 1.0 && rate <= 1000.0))
        rate = 60.0;
    return static_cast<int>(std::ceil(1000.0 / rate));
}

void createStimulationWindow()
{
    gWindow = new StimulationWidget;
    gFrameTimer = new QTimer(gWindow);
    gFrameTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(gFrameTimer, &QTimer::timeout, onFrame);
}

void destroyStimulationWindow()
{
    delete gWindow;
    gWindow = nullptr;
    gFrameTimer = nullptr;
}

QWidget* stimulationWindow()
{
    return gWindow;
}

void showStimulationWindow()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr)
        gWindow->setGeometry(screen->geometry());
    gPaintedLevel = 0;
    gWindow->showFullScreen();
    gWindow->activateWindow();
    gWindow->setFocus(Qt::OtherFocusReason);
    gFrameTimer->start(frameIntervalMs());
}

void hideStimulationWindow()
{
    gFrameTimer->stop();
    gWindow->hide();
}

std::uint8_t paintedLevel()
{
    return gPaintedLevel;
}

std::uint64_t paintCount()
{
    return gPaintCount;
}
