// The Linux face's windows driven as a user would, through Qt Test on the offscreen
// platform: the control table, the frequency controls in step, Start and Stop with
// their desktop states, and the real workers behind them.
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QToolButton>

#include <time.h>

#include <cstdint>
#include <cstring>

#include "settings/frequency_text.h"
#include "session/session_controller.h"
#include "settings/session_flag.h"
#include "settings/settings.h"
#include "ui/control_table.h"
#include "ui/linux/control_window.h"
#include "ui/linux/face_probe.h"
#include "ui/linux/stimulation_window.h"
#include "ui/linux/strobe_published.h"
#include "visual/strobe_level.h"

namespace {

constexpr int kDisplayRow = 1;
constexpr int kSliderRow = 3;
constexpr int kArrowsRow = 4;
constexpr int kSoundRow = 9;
constexpr int kVisualRow = 10;
constexpr int kStartRow = 11;
// Only catches hangs: workers end within a block time.
constexpr int kHangMs = 10000;

QSlider* slider() { return qobject_cast<QSlider*>(controlWidget(kSliderRow)); }
QLineEdit* display() { return qobject_cast<QLineEdit*>(controlWidget(kDisplayRow)); }
QComboBox* soundList() { return qobject_cast<QComboBox*>(controlWidget(kSoundRow)); }
QComboBox* visualList() { return qobject_cast<QComboBox*>(controlWidget(kVisualRow)); }
QPushButton* startButton() { return qobject_cast<QPushButton*>(controlWidget(kStartRow)); }
QToolButton* arrow(const char* name)
{
    return controlWidget(kArrowsRow)->findChild<QToolButton*>(QString::fromLatin1(name));
}

bool cursorHidden()
{
    const QCursor* c = QGuiApplication::overrideCursor();
    return c != nullptr && c->shape() == Qt::BlankCursor;
}

// Setting up a case: the slider moved to the value, as a drag would leave it.
void setFrequency(int hundredths)
{
    slider()->setValue(hundredths);
}

// What the last Start told the user in a message box, which the user closed with Return.
QString gTold;

// Clicks Start and lets the event loop run until the session has started: a Start right
// after a key waits, with the window live, for the last session's workers to end. A
// message shown first is read and closed with Return, as a person would.
void clickStart()
{
    gTold.clear();
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            gTold = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    reader.start(10);
    QTest::mouseClick(startButton(), Qt::LeftButton);
    for (int i = 0; i < kHangMs && startWaiting(); ++i)
        QTest::qWait(1);
}

// A key as the window system hands it to one of the program's windows: to the window
// itself, which passes it to whichever of its widgets has the focus.
bool sendKey(QWidget* window, QEvent::Type type, int key, Qt::KeyboardModifiers held = {},
             bool autoRepeat = false)
{
    QWindow* handle = window->windowHandle();
    Q_ASSERT(handle != nullptr);
    const quint32 scanCode = static_cast<quint32>(key & 0xFFFF) + 8; // any, but the same per key
    QKeyEvent event(type, key, held, scanCode, 0, 0, QString(), autoRepeat);
    QCoreApplication::sendEvent(handle, &event);
    return event.isAccepted();
}

void pressAndRelease(QWidget* window, int key, Qt::KeyboardModifiers held = {})
{
    sendKey(window, QEvent::KeyPress, key, held);
    sendKey(window, QEvent::KeyRelease, key, held);
}

// Lets the event loop run for a while, as a person between two keys would.
void settle()
{
    QTest::qWait(50);
}

// Clicks Start right after the last session's key, again and again, until the click
// finds that session's workers still winding down and the new Start waits for them.
bool catchAWaitingStart()
{
    for (int i = 0; i < 400; ++i) {
        clickStart();
        sendKey(stimulationWindow(), QEvent::KeyPress, Qt::Key_Escape);
        sendKey(stimulationWindow(), QEvent::KeyRelease, Qt::Key_Escape);
        QTest::mouseClick(startButton(), Qt::LeftButton);
        if (startWaiting())
            return true;
        if (sessionRunning(&SessionFlag))
            stopSession();
    }
    return false;
}

// Where a click in the slider's channel lands, `offset` pixels beside the thumb.
QPoint besideTheThumb(int offset)
{
    QStyleOptionSlider option;
    option.initFrom(slider());
    option.orientation = slider()->orientation();
    option.minimum = slider()->minimum();
    option.maximum = slider()->maximum();
    option.sliderPosition = slider()->sliderPosition();
    option.sliderValue = slider()->value();
    option.subControls = QStyle::SC_All;
    const QRect thumb = slider()->style()->subControlRect(QStyle::CC_Slider, &option,
                                                            QStyle::SC_SliderHandle, slider());
    return QPoint(offset > 0 ? thumb.right() + offset : thumb.left() + offset, thumb.center().y());
}

} // namespace

class FaceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        createControlWindow();
        createStimulationWindow();
        QVERIFY(QTest::qWaitForWindowExposed(controlWindow()));
    }

    void cleanup()
    {
        if (sessionRunning(&SessionFlag))
            stopSession();
        QVERIFY(waitForWorkers(kHangMs));
    }

    void cleanupTestCase()
    {
        QVERIFY(finishWorkers(kHangMs));
        destroyStimulationWindow();
        destroyControlWindow();
    }

    void controlWindowFrame()
    {
        QWidget* w = controlWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Zarvelin"));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->width() >= 492 && w->height() >= 125); // the slider's and Start's far edges
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!w->windowIcon().isNull());
        const QList<QSize> sizes = w->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QCOMPARE(w->x(), QGuiApplication::primaryScreen()->geometry().width() / 2 - 250);
        QCOMPARE(w->y(), 50);
    }

    void controlTable_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kControlCount; ++i)
            QTest::addRow("row %d %s", i + 1, kControls[i].className) << i;
    }

    void controlTable()
    {
        QFETCH(int, row);
        const ControlRow& entry = kControls[row];
        QWidget* w = controlWidget(row);
        QVERIFY(w != nullptr);
        QCOMPARE(w->parentWidget(), controlWindow());
        QVERIFY(w->isVisible());

        // Creation order is the order of the window's children.
        QList<QWidget*> children;
        for (QObject* o : controlWindow()->children())
            if (auto* cw = qobject_cast<QWidget*>(o); cw != nullptr && cw->isWindow() == false)
                children.append(cw);
        QCOMPARE(children.size(), kControlCount);
        QCOMPARE(children.at(row), w);

        // Where each control stands, as the window is drawn on Windows (client pixels);
        // a list stands closed, its drop-down part below.
        const QRect placed[kControlCount] = {
            {5, 5, 150, 15},   {160, 5, 40, 15},  {201, 5, 20, 15},   {242, 5, 250, 15},
            {222, 5, 10, 15},  {5, 33, 160, 15},  {5, 63, 175, 15},   {5, 102, 160, 15},
            {380, 102, 105, 15}, {185, 30, 305, kListClosedHeight}, {185, 60, 305, kListClosedHeight},
            {215, 95, 70, 30},
        };
        QCOMPARE(w->geometry(), placed[row]);
        QVERIFY(w->geometry().bottom() < controlWindow()->height());
        QVERIFY(w->geometry().right() < controlWindow()->width());

        const QString text = QString::fromUtf8(entry.text);
        switch (entry.role) {
        case ControlRole::Label:
            QCOMPARE(qobject_cast<QLabel*>(w)->text(), text);
            break;
        case ControlRole::FrequencyDisplay: {
            auto* e = qobject_cast<QLineEdit*>(w);
            QVERIFY(e->isReadOnly());
            QVERIFY(e->alignment() & Qt::AlignRight);
            QCOMPARE(e->text(), QStringLiteral("7,80"));
            break;
        }
        case ControlRole::Slider: {
            auto* s = qobject_cast<QSlider*>(w);
            QCOMPARE(s->orientation(), Qt::Horizontal);
            QCOMPARE(s->minimum(), 10);
            QCOMPARE(s->maximum(), 5000);
            QCOMPARE(s->value(), 780);
            break;
        }
        case ControlRole::Arrows: {
            // Two arrow buttons and no text field of their own.
            QCOMPARE(w->findChildren<QLineEdit*>().size(), 0);
            const QList<QToolButton*> buttons = w->findChildren<QToolButton*>();
            QCOMPARE(buttons.size(), 2);
            QCOMPARE(arrow("up")->arrowType(), Qt::UpArrow);
            QCOMPARE(arrow("down")->arrowType(), Qt::DownArrow);
            QVERIFY(arrow("up")->geometry().bottom() < arrow("down")->geometry().top());
            for (QToolButton* b : buttons) {
                QVERIFY(b->autoRepeat());
                QVERIFY(w->rect().contains(b->geometry()));
            }
            QCOMPARE(arrowsPosition(), 780u);
            break;
        }
        case ControlRole::SoundList:
        case ControlRole::VisualList: {
            auto* c = qobject_cast<QComboBox*>(w);
            QVERIFY(!c->isEditable());
            int count = 0;
            const char* const* captions = listCaptions(entry.role, &count);
            QCOMPARE(c->count(), count);
            for (int i = 0; i < count; ++i)
                QCOMPARE(c->itemText(i), QString::fromUtf8(captions[i]));
            QCOMPARE(c->currentIndex(), 1);
            break;
        }
        case ControlRole::StartButton:
            QCOMPARE(qobject_cast<QPushButton*>(w)->text(), QStringLiteral("Запуск"));
            break;
        }
    }

    // Each row: where the controls start, what the user does, what all three show then.
    void controlsInStep_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("text");
        QTest::newRow("slider to its left end") << 780 << "home" << 10 << "0,10";
        QTest::newRow("slider to its right end") << 780 << "end" << 5000 << "50,00";
        QTest::newRow("one up from the default") << 780 << "up" << 781 << "7,81";
        QTest::newRow("one down from the default") << 780 << "down" << 779 << "7,79";
        QTest::newRow("up at the top stays") << 5000 << "up" << 5000 << "50,00";
        QTest::newRow("down at the bottom stays") << 10 << "down" << 10 << "0,10";
        QTest::newRow("up from the bottom") << 10 << "up" << 11 << "0,11";
        QTest::newRow("down from the top") << 5000 << "down" << 4999 << "49,99";
        QTest::newRow("slider one step left") << 1000 << "left" << 999 << "9,99";
        QTest::newRow("inner zero kept") << 1004 << "up" << 1005 << "10,05";
        QTest::newRow("slider one step right") << 1234 << "right" << 1235 << "12,35";
    }

    void controlsInStep()
    {
        QFETCH(int, start);
        QFETCH(QString, action);
        QFETCH(int, position);
        QFETCH(QString, text);
        setFrequency(start);
        QCOMPARE(static_cast<int>(arrowsPosition()), start);
        slider()->setFocus();
        if (action == QLatin1String("home"))
            QTest::keyClick(slider(), Qt::Key_Home);
        else if (action == QLatin1String("end"))
            QTest::keyClick(slider(), Qt::Key_End);
        else if (action == QLatin1String("left"))
            QTest::keyClick(slider(), Qt::Key_Left);
        else if (action == QLatin1String("right"))
            QTest::keyClick(slider(), Qt::Key_Right);
        else
            QTest::mouseClick(arrow(action == QLatin1String("up") ? "up" : "down"), Qt::LeftButton);
        QCOMPARE(static_cast<int>(arrowsPosition()), position);
        QCOMPARE(slider()->value(), position);
        QCOMPARE(display()->text(), text);
        // Moving the frequency changes nothing else.
        QCOMPARE(soundList()->currentIndex(), 1);
        QCOMPARE(visualList()->currentIndex(), 1);
        QVERIFY(!sessionRunning(&SessionFlag));
    }

    // The slider's keys move the value as the Windows trackbar's do, where the value grows
    // downward: this sequence, from 10,08, shows 10,07 / 10,06 / 10,07 / 0,10 / 10,08 /
    // 20,06 there. Left and Right keep their direction.
    void sliderKeysAsOnTheTrackbar()
    {
        setFrequency(1008);
        slider()->setFocus();
        const struct {
            Qt::Key key;
            const char* text;
        } steps[] = {
            {Qt::Key_Up, "10,07"},      {Qt::Key_Up, "10,06"},       {Qt::Key_Down, "10,07"},
            {Qt::Key_PageUp, "0,10"},   {Qt::Key_PageDown, "10,08"}, {Qt::Key_PageDown, "20,06"},
            {Qt::Key_Left, "20,05"},    {Qt::Key_Right, "20,06"},
        };
        for (const auto& step : steps) {
            QTest::keyClick(slider(), step.key);
            QCOMPARE(display()->text(), QString::fromLatin1(step.text));
            QCOMPARE(arrowsPosition(), static_cast<std::uint32_t>(slider()->value()));
        }
    }

    // A left click in the channel moves one page, a fifth of the range, toward the click,
    // stopping at the ends: the same page as the trackbar's under Windows.
    void channelClickMovesOnePage_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("offset"); // pixels right (+) or left (-) of the thumb
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("text");
        QTest::newRow("right of the thumb") << 785 << 30 << 1783 << "17,83";
        QTest::newRow("far right of the thumb") << 785 << 150 << 1783 << "17,83";
        QTest::newRow("left of the thumb") << 2783 << -30 << 1785 << "17,85";
        QTest::newRow("right, near the top") << 4500 << 8 << 5000 << "50,00";
        QTest::newRow("left, near the bottom") << 600 << -8 << 10 << "0,10";
    }

    void channelClickMovesOnePage()
    {
        QFETCH(int, start);
        QFETCH(int, offset);
        QFETCH(int, position);
        QFETCH(QString, text);
        setFrequency(start);
        const QPoint at = besideTheThumb(offset);
        QVERIFY2(slider()->rect().contains(at), "the click falls outside the slider");
        QTest::mouseClick(slider(), Qt::LeftButton, {}, at);
        QCOMPARE(slider()->value(), position);
        QCOMPARE(static_cast<int>(arrowsPosition()), position);
        QCOMPARE(display()->text(), text);
        QVERIFY(!sessionRunning(&SessionFlag));
    }

    void arrowRepeatsWhileHeld()
    {
        setFrequency(780);
        QTest::mousePress(arrow("up"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(arrowsPosition() >= 784, kHangMs);
        QTest::mouseRelease(arrow("up"), Qt::LeftButton);
        const auto held = arrowsPosition();
        QCOMPARE(slider()->value(), static_cast<int>(held));
        QCOMPARE(display()->text(), QString::fromLatin1(FrequencyText(held).data()));
    }

    void startShowsTheStimulationWindow_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("sound");
        QTest::addColumn<int>("visual");
        QTest::addColumn<int>("runs"); // the visual mode the session runs in
        QTest::newRow("defaults") << 780 << 1 << 1 << 1;
        QTest::newRow("lowest, noise, no strobe") << 10 << 3 << 0 << 0;
        // The offscreen screen refreshes 60 times a second: 29,41 Hz is the fastest
        // flicker it shows, and anything faster runs black after a message.
        QTest::newRow("highest shown, beeps") << 2941 << 2 << 1 << 1;
        QTest::newRow("highest, beeps") << 5000 << 2 << 1 << 0;
        QTest::newRow("both effects none") << 1234 << 0 << 0 << 0;
    }

    void startShowsTheStimulationWindow()
    {
        QFETCH(int, frequency);
        QFETCH(int, sound);
        QFETCH(int, visual);
        QFETCH(int, runs);
        setFrequency(frequency);
        soundList()->setCurrentIndex(sound);
        visualList()->setCurrentIndex(visual);
        clickStart();

        QVERIFY(sessionRunning(&SessionFlag));
        QCOMPARE(gStimulationSettings.frequency, static_cast<std::uint32_t>(frequency));
        QCOMPARE(static_cast<int>(gStimulationSettings.soundMode), sound);
        QCOMPARE(static_cast<int>(gStimulationSettings.visualMode), runs);
        if (runs == visual)
            QVERIFY2(gTold.isEmpty(), qPrintable(gTold));
        else
            QVERIFY2(gTold.contains(QStringLiteral("60 Гц")) && gTold.contains(QStringLiteral("29,41 Гц")),
                     qPrintable(gTold));
        QVERIFY(!controlWindow()->isEnabled());
        QWidget* stim = stimulationWindow();
        QVERIFY(stim->isVisible());
        QCOMPARE(stim->geometry(), QGuiApplication::primaryScreen()->geometry());
        QVERIFY(stim->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(cursorHidden());
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), stim, kHangMs);
        QTRY_COMPARE_WITH_TIMEOUT(strobeTimersRunning(), runs == 1 ? 1 : 0, kHangMs);
    }

    // Whatever the key, it ends the session and gives the desktop back unchanged.
    void keyStopsTheSession_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Escape") << int(Qt::Key_Escape);
        QTest::newRow("Space") << int(Qt::Key_Space);
        QTest::newRow("a letter") << int(Qt::Key_Q);
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("F1") << int(Qt::Key_F1);
    }

    void keyStopsTheSession()
    {
        QFETCH(int, key);
        setFrequency(2345);
        soundList()->setCurrentIndex(2);
        visualList()->setCurrentIndex(1);
        clickStart();
        QVERIFY(sessionRunning(&SessionFlag));

        // Clicks on the stimulation window do nothing.
        QTest::mouseClick(stimulationWindow(), Qt::LeftButton);
        QVERIFY(sessionRunning(&SessionFlag));

        QTest::keyClick(stimulationWindow(), static_cast<Qt::Key>(key));
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(!stimulationWindow()->isVisible());
        QVERIFY(controlWindow()->isEnabled());
        QVERIFY(!cursorHidden());
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), controlWindow(), kHangMs);
        QCOMPARE(display()->text(), QStringLiteral("23,45"));
        QCOMPARE(slider()->value(), 2345);
        QCOMPARE(arrowsPosition(), 2345u);
        QCOMPARE(soundList()->currentIndex(), 2);
        QCOMPARE(visualList()->currentIndex(), 1);
        QVERIFY(waitForWorkers(kHangMs));
        QCOMPARE(strobeTimersRunning(), 0);
    }

    // Keys Windows delivers as system keys never end a session there; every other key
    // does, Alt+F4 through the close it stands for. Each row is pressed during a session,
    // at the stimulation window, as the window system delivers it.
    void systemKeysLeaveTheSessionRunning_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("ends");
        const int alt = Qt::AltModifier;
        QTest::newRow("Alt alone") << int(Qt::Key_Alt) << alt << false;
        QTest::newRow("Alt+X") << int(Qt::Key_X) << alt << false;
        QTest::newRow("Alt+Shift+X") << int(Qt::Key_X) << (alt | int(Qt::ShiftModifier)) << false;
        QTest::newRow("Alt+Tab") << int(Qt::Key_Tab) << alt << false;
        QTest::newRow("F10") << int(Qt::Key_F10) << 0 << false;
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier) << false;
        QTest::newRow("Alt+F4") << int(Qt::Key_F4) << alt << true;
        QTest::newRow("Ctrl+Alt+X") << int(Qt::Key_X) << (alt | int(Qt::ControlModifier)) << true;
        QTest::newRow("Ctrl+F10") << int(Qt::Key_F10) << int(Qt::ControlModifier) << true;
        QTest::newRow("F4") << int(Qt::Key_F4) << 0 << true;
        QTest::newRow("Shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << true;
        QTest::newRow("Ctrl alone") << int(Qt::Key_Control) << int(Qt::ControlModifier) << true;
        QTest::newRow("AltGr") << int(Qt::Key_AltGr) << 0 << true;
        QTest::newRow("x") << int(Qt::Key_X) << 0 << true;
    }

    void systemKeysLeaveTheSessionRunning()
    {
        QFETCH(int, key);
        QFETCH(int, held);
        QFETCH(bool, ends);
        clickStart();
        QVERIFY(sessionRunning(&SessionFlag));
        pressAndRelease(stimulationWindow(), key, Qt::KeyboardModifiers(held));
        settle();
        QCOMPARE(!sessionRunning(&SessionFlag), ends);
        QCOMPARE(!stimulationWindow()->isVisible(), ends);
        QCOMPARE(controlWindow()->isEnabled(), ends);
        QVERIFY(controlWindow()->isVisible());
        if (!ends) {
            // The session goes on until an ordinary key.
            pressAndRelease(stimulationWindow(), Qt::Key_A);
            QVERIFY(!sessionRunning(&SessionFlag));
        }
    }

    // The key that ends a session may reach either window: the stimulation window may
    // not have the keyboard yet when it is pressed. The control window must not act on
    // it (Space on a focused Start would start a second session).
    void keyAtTheControlWindowEndsTheSession_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Space") << int(Qt::Key_Space);
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Right") << int(Qt::Key_Right);
        QTest::newRow("a letter") << int(Qt::Key_Q);
    }

    void keyAtTheControlWindowEndsTheSession()
    {
        QFETCH(int, key);
        setFrequency(1500);
        clickStart();
        QVERIFY(sessionRunning(&SessionFlag));
        startButton()->setFocus(Qt::OtherFocusReason);
        pressAndRelease(controlWindow(), key);
        settle();
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(!startWaiting());
        QVERIFY(!stimulationWindow()->isVisible());
        QVERIFY(controlWindow()->isEnabled());
        QCOMPARE(slider()->value(), 1500);
        QVERIFY(!cursorHidden());
    }

    // A Start waiting for the last session's workers has begun the session for the user:
    // a key then, at the control window whose Start still has the focus, drops it, and
    // nothing starts afterwards.
    void keyWhileAStartWaitsDropsIt()
    {
        visualList()->setCurrentIndex(1);
        soundList()->setCurrentIndex(1);
        QVERIFY2(catchAWaitingStart(), "no Start ever found the last workers still running");
        // The control window hands its keys to Start (whether the window system has
        // made the window active again by now or not, which is its own affair).
        QCOMPARE(controlWindow()->focusWidget(), static_cast<QWidget*>(startButton()));
        pressAndRelease(controlWindow(), Qt::Key_Space);
        QVERIFY(!startWaiting());
        QVERIFY(waitForWorkers(kHangMs));
        QTest::qWait(100);
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(!stimulationWindow()->isVisible());
        QVERIFY(controlWindow()->isEnabled());
        QVERIFY(!cursorHidden());
    }

    // The same for a system key, which leaves it waiting, and for the close request that
    // Alt+F4 sends to the control window then: the start is dropped, the program stays.
    void closeWhileAStartWaitsDropsIt()
    {
        QVERIFY2(catchAWaitingStart(), "no Start ever found the last workers still running");
        pressAndRelease(controlWindow(), Qt::Key_Alt, Qt::AltModifier);
        QVERIFY(startWaiting());
        QVERIFY(!controlWindow()->close());
        QVERIFY(!startWaiting());
        QVERIFY(waitForWorkers(kHangMs));
        QTest::qWait(100);
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(controlWindow()->isVisible());
    }

    // A key held down ends the session once; its auto-repeat and its release are held
    // back from the control window even where a control that acts on that key has the
    // focus, and the next fresh press is the control's again.
    void heldKeyEndsTheSessionOnce_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("onSlider"); // else on Start
        QTest::newRow("Space on Start") << int(Qt::Key_Space) << false;
        QTest::newRow("Right on the slider") << int(Qt::Key_Right) << true;
    }

    void heldKeyEndsTheSessionOnce()
    {
        QFETCH(int, key);
        QFETCH(bool, onSlider);
        setFrequency(2000);
        clickStart();
        QVERIFY(sessionRunning(&SessionFlag));
        sendKey(stimulationWindow(), QEvent::KeyPress, key);
        QVERIFY(!sessionRunning(&SessionFlag));
        QWidget* focused = onSlider ? static_cast<QWidget*>(slider()) : startButton();
        focused->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < 10; ++i) {
            sendKey(controlWindow(), QEvent::KeyRelease, key, {}, true);
            sendKey(controlWindow(), QEvent::KeyPress, key, {}, true);
            QTest::qWait(5);
        }
        sendKey(controlWindow(), QEvent::KeyRelease, key);
        settle();
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(!startWaiting());
        QVERIFY(!startButton()->isDown());
        QCOMPARE(slider()->value(), 2000);
        // A new press is the focused control's: the key is not held back for ever.
        pressAndRelease(controlWindow(), key);
        for (int i = 0; i < kHangMs && startWaiting(); ++i)
            QTest::qWait(1);
        QCOMPARE(sessionRunning(&SessionFlag), !onSlider);
        QCOMPARE(slider()->value(), onSlider ? 2001 : 2000);
    }

    void secondStartCapturesAgain()
    {
        setFrequency(500);
        soundList()->setCurrentIndex(3);
        visualList()->setCurrentIndex(0);
        clickStart();
        QCOMPARE(gStimulationSettings.frequency, 500u);
        QTest::keyClick(stimulationWindow(), Qt::Key_Escape);

        QTest::mouseClick(arrow("up"), Qt::LeftButton);
        soundList()->setCurrentIndex(0);
        visualList()->setCurrentIndex(1);
        // Between sessions the settings keep what the last Start captured.
        QCOMPARE(gStimulationSettings.frequency, 500u);
        clickStart();
        QVERIFY(sessionRunning(&SessionFlag));
        QCOMPARE(gStimulationSettings.frequency, 501u);
        QCOMPARE(gStimulationSettings.soundMode, SoundNone);
        QCOMPARE(gStimulationSettings.visualMode, VisualStrobe);
    }

    void closingTheStimulationWindowStops()
    {
        clickStart();
        QWidget* stim = stimulationWindow();
        QVERIFY(!stim->close()); // refused: the window lives on for the next session
        QVERIFY(!sessionRunning(&SessionFlag));
        QVERIFY(!stim->isVisible());
        QVERIFY(controlWindow()->isEnabled());
        QVERIFY(!cursorHidden());
        QCOMPARE(stimulationWindow(), stim);
        clickStart();
        QVERIFY(stim->isVisible());
        QVERIFY(sessionRunning(&SessionFlag));
    }

    void closingTheControlWindowWaitsForTheSession()
    {
        clickStart();
        QVERIFY(!controlWindow()->close());
        QVERIFY(controlWindow()->isVisible());
        QVERIFY(sessionRunning(&SessionFlag));
    }

    // The window repaints once per display frame at most, in greys of the curve.
    void strobePaintsLevelsOfTheCurve_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::newRow("7,80") << 780;
        QTest::newRow("29,41, the fastest a 60 Hz screen shows") << 2941;
        QTest::newRow("12,34") << 1234;
    }

    void strobePaintsLevelsOfTheCurve()
    {
        QFETCH(int, frequency);
        setFrequency(frequency);
        visualList()->setCurrentIndex(1);
        const std::uint32_t cycle = ticksPerCycle(static_cast<std::uint32_t>(frequency));
        const double step = phaseStep(cycle);
        // The tick counts on from the session's start and the short constant for a full
        // turn lets the phase drift, so later cycles take greys the first does not (the
        // 254 of the middle turns to 253): every tick the test can live through counts.
        QSet<int> curve;
        for (std::uint32_t t = 0; t < 2 * kHangMs / kStrobeTickMs; ++t)
            curve.insert(strobeLevel(t, step));

        QElapsedTimer clock;
        clock.start();
        clickStart();
        // Showing and activating the window paints it a few times; the strobe's own
        // paints are counted from the first change of grey on.
        QSet<int> seen;
        auto sample = [&] {
            QTest::qWait(5);
            const int level = paintedLevel();
            seen.insert(level);
            return curve.contains(level) ? -1 : level;
        };
        while (seen.size() < 2 && clock.elapsed() < kHangMs)
            QCOMPARE(sample(), -1);
        const std::uint64_t paintsBefore = paintCount();
        clock.restart();
        seen.clear();
        while (seen.size() < 4 && clock.elapsed() < kHangMs)
            QCOMPARE(sample(), -1);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(seen.size() >= 4, "the grey stopped changing");
        const std::uint64_t paints = paintCount() - paintsBefore;
        // Load can only lower the count: one look per frame interval, plus one for the
        // interval under way.
        QVERIFY2(paints <= static_cast<std::uint64_t>(elapsed / frameIntervalMs() + 1),
                 qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(elapsed)));
    }

    // The grey read at any moment is the one of the tick due then, counted from the
    // strobe's start: a stale grey, a wrong origin or a wrong tick length would each
    // show a grey of another moment of the curve.
    void greyIsTheTickDueNow_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::newRow("0,10") << 10;
        QTest::newRow("7,80") << 780;
        QTest::newRow("29,41, the fastest a 60 Hz screen shows") << 2941;
    }

    void greyIsTheTickDueNow()
    {
        QFETCH(int, frequency);
        setFrequency(frequency);
        visualList()->setCurrentIndex(1);
        const double step = phaseStep(ticksPerCycle(static_cast<std::uint32_t>(frequency)));
        clickStart();
        QTRY_COMPARE_WITH_TIMEOUT(strobeTimersRunning(), 1, kHangMs);
        const auto now = [] {
            timespec t{};
            clock_gettime(CLOCK_MONOTONIC, &t);
            return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
        };
        const std::int64_t origin = strobeTimerOriginNs();
        const std::int64_t tickNs = std::int64_t{kStrobeTickMs} * 1000000;
        for (int i = 0; i < 200; ++i) {
            const std::int64_t before = now();
            const int level = strobePublishedLevel();
            const std::int64_t after = now();
            bool due = false;
            for (std::int64_t k = (before - origin) / tickNs; k <= (after - origin) / tickNs; ++k)
                due = due || level == strobeLevel(static_cast<std::uint32_t>(k), step);
            QVERIFY2(due, qPrintable(QStringLiteral("grey %1 at %2 ms into the strobe")
                                         .arg(level).arg((before - origin) / 1000000)));
            QTest::qWait(3);
        }
    }

    // Visual none, and a strobe faster than the screen shows, which runs as none.
    void noStrobeStaysBlack_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("visual");
        QTest::newRow("none") << 780 << 0;
        QTest::newRow("a strobe at 50,00") << 5000 << 1;
        QTest::newRow("a strobe at 29,42") << 2942 << 1;
    }

    void noStrobeStaysBlack()
    {
        QFETCH(int, frequency);
        QFETCH(int, visual);
        setFrequency(frequency);
        visualList()->setCurrentIndex(visual);
        clickStart();
        QTest::qWait(100);
        QCOMPARE(strobeTimersRunning(), 0);
        QCOMPARE(strobePublishedLevel(), 0);
        QCOMPARE(paintedLevel(), 0);
    }

    // Sessions started and stopped as fast as the event loop allows: each Start waits,
    // without blocking the window, for the last session's workers, so no two ever run at
    // once.
    void rapidStartStop()
    {
        visualList()->setCurrentIndex(1);
        soundList()->setCurrentIndex(1);
        for (int i = 0; i < 200; ++i) {
            clickStart();
            QVERIFY(sessionRunning(&SessionFlag));
            QVERIFY(workersRunning() <= 2);
            QTest::keyClick(stimulationWindow(), Qt::Key_Space);
            QVERIFY(!sessionRunning(&SessionFlag));
            QVERIFY(controlWindow()->isEnabled());
        }
        QVERIFY(waitForWorkers(kHangMs));
        QCOMPARE(strobeTimersMostAtOnce(), 1);
        QVERIFY(!cursorHidden());
    }
};

QTEST_MAIN(FaceTest)
#include "face_test.moc"
