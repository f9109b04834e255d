#include "ui/linux/stimulation_window.h"

#include <QCloseEvent>
#include <QColor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "session/session_controller.h"
#include "settings/session_flag.h"
#include "ui/linux/face_probe.h"
#include "ui/linux/strobe_published.h"
#include "ui/linux/wayland_grey.h"
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

    void resizeEvent(QResizeEvent*) override { waylandGreyResize(width(), height()); }

    // The keys that end a session are taken by the application's key filter before any
    // window sees them; the system keys that reach this window do nothing here.
    void keyPressEvent(QKeyEvent* event) override { event->accept(); }

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
// On Wayland, whether the compositor shows the grey (see wayland_grey.h).
bool gCompositorGrey = false;

// A key the system keeps for itself on Windows, where it arrives as WM_SYSKEYDOWN and
// never as the WM_KEYDOWN that ends a session there: F10, Alt itself, and any key
// pressed while Alt is held, unless Ctrl is held too (Ctrl+Alt, AltGr, is an ordinary
// chord).
bool isSystemKey(const QKeyEvent& key)
{
    if (key.key() == Qt::Key_Alt)
        return true;
    const Qt::KeyboardModifiers held = key.modifiers();
    if (held & Qt::ControlModifier)
        return false;
    return key.key() == Qt::Key_F10 || (held & Qt::AltModifier);
}

// Alt+F4 is the desktop's close: where no window manager turns it into a close request,
// it arrives here as a key and does what that request does.
bool isCloseChord(const QKeyEvent& key)
{
    return key.key() == Qt::Key_F4 && (key.modifiers() & Qt::AltModifier) &&
           !(key.modifiers() & Qt::ControlModifier);
}

bool sessionHasTheKeys()
{
    return sessionRunning(&SessionFlag) || startWaiting();
}

// From the moment Start is handled until the session ends, a key ends it whichever of
// the two windows has the keyboard at that instant: the stimulation window may not have
// it yet (the window manager is still mapping it, or a Start waits for the last
// session's workers), and the disabled control window would drop it. Filtering the
// whole application sees the key first, at the window it was sent to. The key that
// ended the session is then held back until it is released: its auto-repeat must not
// reach the control window, where Space or Return would act on a control.
class SessionKeys : public QObject {
protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
            return QObject::eventFilter(receiver, event);
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (mHolding && sameKey(*key)) {
            if (type == QEvent::KeyRelease && !key->isAutoRepeat())
                mHolding = false; // the last event of that key
            if (type == QEvent::KeyRelease || key->isAutoRepeat())
                return true;
            mHolding = false; // a fresh press: its release went elsewhere
        }
        if (type != QEvent::KeyPress || !sessionHasTheKeys())
            return false;
        if (isSystemKey(*key) && !isCloseChord(*key))
            return false;
        mHolding = true;
        mKey = key->key();
        mScanCode = key->nativeScanCode();
        stopSession();
        return true;
    }

private:
    bool sameKey(const QKeyEvent& key) const
    {
        return key.key() == mKey && key.nativeScanCode() == mScanCode;
    }

    bool mHolding = false;
    int mKey = 0;
    quint32 mScanCode = 0;
};

SessionKeys* gSessionKeys = nullptr;

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

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The window has no title, as on Windows: Qt never leaves a title empty and falls back
// to the program's name, so on X both name properties are emptied once the window exists.
void clearTitleOnServer(xcb_connection_t* connection)
{
    const auto window = static_cast<xcb_window_t>(gWindow->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        nullptr);
    const xcb_atom_t netName = internAtom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = internAtom(connection, "UTF8_STRING");
    if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netName, utf8, 8, 0, nullptr);
    xcb_flush(connection);
}

// Once per display frame: repaint only when the strobe has moved to another grey.
void onFrame()
{
    const std::uint8_t level = strobePublishedLevel();
    if (level == gPaintedLevel)
        return;
    xcb_connection_t* connection = xcbConnection();
    if (connection == nullptr && !gCompositorGrey) {
        gWindow->repaint(); // the paint takes the grey itself
        return;
    }
    gPaintedLevel = level;
    ++gPaintCount;
    if (connection != nullptr)
        fillOnServer(connection, level);
    else
        waylandGreyShow(level);
}

} // namespace

double screenRefreshRate()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->refreshRate() : 0.0;
}

int frameIntervalMs()
{
    double rate = screenRefreshRate();
    if (!(rate >= 1.0 && rate <= 1000.0))
        rate = 60.0;
    return static_cast<int>(std::ceil(1000.0 / rate));
}

void createStimulationWindow()
{
    gSessionKeys = new SessionKeys;
    qApp->installEventFilter(gSessionKeys);
    gWindow = new StimulationWidget;
    gFrameTimer = new QTimer(gWindow);
    gFrameTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(gFrameTimer, &QTimer::timeout, onFrame);
}

void destroyStimulationWindow()
{
    delete gSessionKeys; // leaves the application's filters on its own
    gSessionKeys = nullptr;
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
    // On X the window is black the moment it is mapped, filled by the server itself, as
    // a window class's black brush does on Windows: otherwise it would show what lay
    // beneath it until the first paint reached the server.
    if (xcb_connection_t* connection = xcbConnection())
        fillOnServer(connection, 0);
    gWindow->showFullScreen();
    if (xcb_connection_t* connection = xcbConnection())
        clearTitleOnServer(connection);
    gCompositorGrey = waylandGreyAttach(gWindow);
    gWindow->activateWindow();
    gWindow->setFocus(Qt::OtherFocusReason);
    gFrameTimer->start(frameIntervalMs());
}

void hideStimulationWindow()
{
    gFrameTimer->stop();
    if (gCompositorGrey)
        waylandGreyDetach();
    gCompositorGrey = false;
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
