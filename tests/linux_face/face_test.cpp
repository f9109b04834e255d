// The Linux face's windows driven through Qt Test on the offscreen platform, for what
// end_to_end.py cannot read or time from outside on a real X server.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <chrono>
#include <cstdint>
#include <tuple>
#include <utility>

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

// Only catches hangs: workers end within a block time.
constexpr int kHangMs = 10000;

// The controls by their rows in the control table.
QLineEdit* display() { return qobject_cast<QLineEdit*>(controlWidget(1)); }
QSlider* slider() { return qobject_cast<QSlider*>(controlWidget(3)); }
QToolButton* arrow(const char* name) { return controlWidget(4)->findChild<QToolButton*>(name); }
QComboBox* soundList() { return qobject_cast<QComboBox*>(controlWidget(9)); }
QComboBox* visualList() { return qobject_cast<QComboBox*>(controlWidget(10)); }
QPushButton* startButton() { return qobject_cast<QPushButton*>(controlWidget(11)); }

// What the controls show: the display, the slider, the arrows, the sound and visual lists.
QString controlsShow()
{
    return QStringLiteral("%1 %2 %3 %4 %5").arg(display()->text()).arg(slider()->value())
        .arg(arrowsPosition()).arg(soundList()->currentIndex()).arg(visualList()->currentIndex());
}

// The desktop's states that hold: a session, a Start waiting, the stimulation window
// shown, the control window usable, the cursor hidden.
QString desktop()
{
    const QCursor* c = QGuiApplication::overrideCursor();
    QStringList on;
    for (auto [state, name] : {std::pair{sessionRunning(&SessionFlag), "session"},
                               {startWaiting(), "waiting"},
                               {stimulationWindow()->isVisible(), "stimulation"},
                               {controlWindow()->isEnabled(), "control"},
                               {c != nullptr && c->shape() == Qt::BlankCursor, "no cursor"}})
        if (state)
            on << QString::fromLatin1(name);
    return on.join(QLatin1Char(' '));
}
const QString kIdle = QStringLiteral("control");
const QString kInSession = QStringLiteral("session stimulation no cursor");

// A Start right after a key waits, the window live, for the last session's workers.
bool startDone() { return QTest::qWaitFor([] { return !startWaiting(); }, kHangMs); }

// What the last Start told the user in a message box, which the user closed with Return.
QString gTold;

// Clicks Start and waits until the session has started; a message first is read and
// closed with Return.
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
    QVERIFY(startDone());
}

// The controls set as a drag and the lists would leave them, then Start clicked.
void start(int frequency, int sound = 1, int visual = 1)
{
    slider()->setValue(frequency);
    soundList()->setCurrentIndex(sound);
    visualList()->setCurrentIndex(visual);
    clickStart();
}

// A key as the window system hands it to one of the program's windows: to the window
// itself, which passes it to whichever of its widgets has the focus.
void sendKey(QWidget* window, QEvent::Type type, int key, Qt::KeyboardModifiers held = {},
             bool autoRepeat = false)
{
    const quint32 scanCode = static_cast<quint32>(key & 0xFFFF) + 8; // any, but the same per key
    QKeyEvent event(type, key, held, scanCode, 0, 0, QString(), autoRepeat);
    QCoreApplication::sendEvent(window->windowHandle(), &event);
}

void pressAndRelease(QWidget* window, int key, Qt::KeyboardModifiers held = {})
{
    sendKey(window, QEvent::KeyPress, key, held);
    sendKey(window, QEvent::KeyRelease, key, held);
}

// Where a click in the slider's channel lands, `offset` pixels beside the thumb.
QPoint besideTheThumb(int offset)
{
    QStyleOptionSlider option;
    option.initFrom(slider());
    option.orientation = slider()->orientation();
    option.minimum = slider()->minimum();
    option.maximum = slider()->maximum();
    option.sliderPosition = option.sliderValue = slider()->value();
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

    // What the window system shows of the frame only through a window manager (a fixed
    // size, no maximize box, the icon), and the controls before anything moved.
    void controlWindowAtStart()
    {
        QCOMPARE(controlsShow(), QStringLiteral("7,80 780 780 1 1"));
        QWidget* w = controlWindow();
        QCOMPARE(w->minimumSize(), w->maximumSize());
        const Qt::WindowFlags boxes = Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
        QCOMPARE(w->windowFlags() & (boxes | Qt::WindowMaximizeButtonHint), boxes);
        QVERIFY(w->windowIcon().availableSizes().contains(QSize(32, 32)));
    }

    void controlTable_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kControlCount; ++i)
            QTest::addRow("row %d %s", i + 1, kControls[i].className) << i;
    }

    // Each control of the table: its place in the creation order, where it stands as the
    // window is drawn on Windows (client pixels; a list closed, its drop-down part below),
    // its text and kind.
    void controlTable()
    {
        QFETCH(int, row);
        const ControlRow& entry = kControls[row];
        QWidget* w = controlWidget(row);
        QVERIFY(w != nullptr);
        QVERIFY(w->isVisible());
        const auto children = controlWindow()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(children.size(), kControlCount);
        QCOMPARE(children.at(row), w);
        const QRect placed[kControlCount] = {
            {5, 5, 150, 15},   {160, 5, 40, 15},  {201, 5, 20, 15},   {242, 5, 250, 15},
            {222, 5, 10, 15},  {5, 33, 160, 15},  {5, 63, 175, 15},   {5, 102, 160, 15},
            {380, 102, 105, 15}, {185, 30, 305, kListClosedHeight}, {185, 60, 305, kListClosedHeight},
            {215, 95, 70, 30},
        };
        QCOMPARE(w->geometry(), placed[row]);

        const QString text = QString::fromUtf8(entry.text);
        switch (entry.role) {
        case ControlRole::Label:
            QCOMPARE(qobject_cast<QLabel*>(w)->text(), text);
            break;
        case ControlRole::FrequencyDisplay: {
            auto* e = qobject_cast<QLineEdit*>(w);
            QVERIFY(e->isReadOnly());
            QVERIFY(e->alignment() & Qt::AlignRight);
            break;
        }
        case ControlRole::Slider: // its range: the Home and End rows of controlsInStep
            QCOMPARE(qobject_cast<QSlider*>(w)->orientation(), Qt::Horizontal);
            break;
        case ControlRole::Arrows: {
            // Two auto-repeating arrow buttons, up over down, and no text field of their own.
            QCOMPARE(w->findChildren<QLineEdit*>().size(), 0);
            const QList<QToolButton*> buttons = w->findChildren<QToolButton*>();
            QCOMPARE(buttons.size(), 2);
            QCOMPARE(arrow("up")->arrowType(), Qt::UpArrow);
            QCOMPARE(arrow("down")->arrowType(), Qt::DownArrow);
            QVERIFY(arrow("up")->geometry().bottom() < arrow("down")->geometry().top());
            for (QToolButton* b : buttons)
                QVERIFY(b->autoRepeat() && w->rect().contains(b->geometry()));
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
            break;
        }
        case ControlRole::StartButton:
            QCOMPARE(qobject_cast<QPushButton*>(w)->text(), QStringLiteral("Запуск"));
            break;
        }
    }

    // Each row: where the controls start, a click on an arrow, a key on the slider or a
    // click in its channel so many pixels beside the thumb, and what all three show then.
    // Keys move as on the Windows trackbar, whose value grows downward; a channel click
    // moves a page, a fifth of the range, toward the click, stopping at the ends.
    void controlsInStep_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("text");
        QTest::newRow("up at the top stays") << 5000 << "arrow up" << "50,00";
        QTest::newRow("down at the bottom stays") << 10 << "arrow down" << "0,10";
        QTest::newRow("up from the bottom") << 10 << "arrow up" << "0,11";
        QTest::newRow("down from the top") << 5000 << "arrow down" << "49,99";
        QTest::newRow("inner zero kept") << 1004 << "arrow up" << "10,05";
        QTest::newRow("Home: the left end") << 780 << "Home" << "0,10";
        QTest::newRow("End: the right end") << 780 << "End" << "50,00";
        QTest::newRow("Left: one step left") << 1000 << "Left" << "9,99";
        QTest::newRow("Right: one step right") << 1234 << "Right" << "12,35";
        QTest::newRow("Up lowers") << 1008 << "Up" << "10,07";
        QTest::newRow("Down raises") << 1006 << "Down" << "10,07";
        QTest::newRow("Page Up: a page down, stops at the bottom") << 1007 << "PgUp" << "0,10";
        QTest::newRow("Page Down from the bottom") << 10 << "PgDown" << "10,08";
        QTest::newRow("Page Down: a page up") << 1008 << "PgDown" << "20,06";
        QTest::newRow("channel right of the thumb") << 785 << "click +30" << "17,83";
        QTest::newRow("channel left of the thumb") << 2783 << "click -30" << "17,85";
        QTest::newRow("channel right, near the top") << 4500 << "click +8" << "50,00";
        QTest::newRow("channel left, near the bottom") << 600 << "click -8" << "0,10";
    }

    void controlsInStep()
    {
        QFETCH(int, start);
        QFETCH(QString, action);
        QFETCH(QString, text);
        const std::uint32_t captured = gStimulationSettings.frequency;
        slider()->setValue(start);
        QCOMPARE(static_cast<int>(arrowsPosition()), start);
        slider()->setFocus();
        if (action.startsWith(QLatin1String("arrow "))) {
            QTest::mouseClick(arrow(qPrintable(action.mid(6))), Qt::LeftButton);
        } else if (action.startsWith(QLatin1String("click "))) {
            const QPoint at = besideTheThumb(action.mid(6).toInt());
            QVERIFY2(slider()->rect().contains(at), "the click falls outside the slider");
            QTest::mouseClick(slider(), Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(slider(), QKeySequence(action)[0].key());
        }
        const int position = QString(text).remove(QLatin1Char(',')).toInt();
        QCOMPARE(controlsShow(), QStringLiteral("%1 %2 %2 1 1").arg(text).arg(position));
        // Moving the frequency starts nothing; the settings keep what the last Start took.
        QCOMPARE(desktop(), kIdle);
        QCOMPARE(gStimulationSettings.frequency, captured);
    }

    void arrowRepeatsWhileHeld()
    {
        slider()->setValue(780);
        QTest::mousePress(arrow("up"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(arrowsPosition() >= 784, kHangMs);
        QTest::mouseRelease(arrow("up"), Qt::LeftButton);
        const auto held = arrowsPosition();
        QCOMPARE(controlsShow(), QStringLiteral("%1 %2 %2 1 1")
                                     .arg(QString::fromLatin1(FrequencyText(held).data())).arg(held));
    }

    // Each row: the controls at Start, the visual mode the session runs in, and what a
    // message told first. The offscreen screen refreshes 60 times a second: 29,41 Hz is
    // the fastest flicker it shows, and anything faster runs black after a message.
    void startShowsTheStimulationWindow_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("sound");
        QTest::addColumn<int>("visual");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("told"); // the parts of the message, split by |
        QTest::newRow("defaults") << 780 << 1 << 1 << 1 << "";
        QTest::newRow("lowest, noise, no strobe") << 10 << 3 << 0 << 0 << "";
        QTest::newRow("highest shown, beeps") << 2941 << 2 << 1 << 1 << "";
        QTest::newRow("just above, beeps") << 2942 << 2 << 1 << 0 << "60 Гц|29,42 Гц|29,41 Гц";
        QTest::newRow("highest, beeps") << 5000 << 2 << 1 << 0 << "60 Гц|50,00 Гц|29,41 Гц";
        QTest::newRow("both effects none") << 1234 << 0 << 0 << 0 << "";
    }

    void startShowsTheStimulationWindow()
    {
        QFETCH(int, frequency);
        QFETCH(int, sound);
        QFETCH(int, visual);
        QFETCH(int, runs);
        QFETCH(QString, told);
        start(frequency, sound, visual);
        const auto& s = gStimulationSettings;
        QCOMPARE(std::tuple(int(s.frequency), int(s.soundMode), int(s.visualMode)),
                 std::tuple(frequency, sound, runs));
        QVERIFY2(told.isEmpty() == gTold.isEmpty(), qPrintable(gTold));
        for (const QString& part : told.split(QLatin1Char('|'), Qt::SkipEmptyParts))
            QVERIFY2(gTold.contains(part), qPrintable(gTold));
        QCOMPARE(desktop(), kInSession);
        QVERIFY(stimulationWindow()->windowFlags() & Qt::FramelessWindowHint);
        QTRY_COMPARE_WITH_TIMEOUT(strobeTimersRunning(), runs, kHangMs);
        if (runs == 0) {
            // No strobe starts, and the last session's grey does not linger: all black.
            QTest::qWait(100);
            QCOMPARE(std::tuple(strobeTimersRunning(), int(strobePublishedLevel()), int(paintedLevel())),
                     std::tuple(0, 0, 0));
        }
    }

    // Each row: what is done during a session, and whether that ends it. Windows' system
    // keys do not; other keys do, at either window, which must not act on them (Space on
    // a focused Start would start again); closes are refused, the stimulation window's
    // ending the session. end_to_end.py has Space, Escape, a letter and the system keys.
    void keyStopsTheSession_data()
    {
        QTest::addColumn<QString>("to"); // the window the key reaches, or the one closed
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("ends");
        const int alt = Qt::AltModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
        QTest::newRow("Return") << "stimulation" << int(Qt::Key_Return) << 0 << true;
        QTest::newRow("F1") << "stimulation" << int(Qt::Key_F1) << 0 << true;
        QTest::newRow("F4") << "stimulation" << int(Qt::Key_F4) << 0 << true;
        QTest::newRow("AltGr") << "stimulation" << int(Qt::Key_AltGr) << 0 << true;
        QTest::newRow("Shift alone") << "stimulation" << int(Qt::Key_Shift) << shift << true;
        QTest::newRow("Ctrl alone") << "stimulation" << int(Qt::Key_Control) << ctrl << true;
        QTest::newRow("Ctrl+Alt+X") << "stimulation" << int(Qt::Key_X) << (ctrl | alt) << true;
        QTest::newRow("Ctrl+F10") << "stimulation" << int(Qt::Key_F10) << ctrl << true;
        QTest::newRow("Alt+Shift+X") << "stimulation" << int(Qt::Key_X) << (alt | shift) << false;
        QTest::newRow("Alt+Tab") << "stimulation" << int(Qt::Key_Tab) << alt << false;
        QTest::newRow("Shift+F10") << "stimulation" << int(Qt::Key_F10) << shift << false;
        QTest::newRow("Space at the control window") << "control" << int(Qt::Key_Space) << 0 << true;
        QTest::newRow("Return at the control window") << "control" << int(Qt::Key_Return) << 0 << true;
        QTest::newRow("Right at the control window") << "control" << int(Qt::Key_Right) << 0 << true;
        QTest::newRow("a letter at the control window") << "control" << int(Qt::Key_Q) << 0 << true;
        QTest::newRow("the stimulation window closed") << "close stimulation" << 0 << 0 << true;
        QTest::newRow("the control window closed") << "close control" << 0 << 0 << false;
    }

    void keyStopsTheSession()
    {
        QFETCH(QString, to);
        QFETCH(int, key);
        QFETCH(int, held);
        QFETCH(bool, ends);
        start(2345, 2);
        QWidget* stim = stimulationWindow();
        QWidget* window = to.endsWith(QLatin1String("control")) ? controlWindow() : stim;
        if (window == controlWindow())
            startButton()->setFocus(Qt::OtherFocusReason);
        if (to.startsWith(QLatin1String("close")))
            QVERIFY(!window->close());
        else
            pressAndRelease(window, key, Qt::KeyboardModifiers(held));
        QCOMPARE(sessionRunning(&SessionFlag), !ends);
        QTest::qWait(50); // time for a wrongly started or ended session to show
        QVERIFY(controlWindow()->isVisible());
        if (!ends) {
            QCOMPARE(desktop(), kInSession);
            pressAndRelease(stim, Qt::Key_A); // the session goes on until an ordinary key
        }
        QCOMPARE(desktop(), kIdle);
        QCOMPARE(stimulationWindow(), stim);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), controlWindow(), kHangMs);
        QCOMPARE(controlsShow(), QStringLiteral("23,45 2345 2345 2 1"));
        QVERIFY(waitForWorkers(kHangMs));
        QCOMPARE(strobeTimersRunning(), 0);
    }

    // A Start waiting for the last session's workers has begun the session for the user:
    // a key then, at the control window whose Start still has the focus, drops it; so
    // does the close request that Alt+F4 sends the control window after the system key
    // Alt, which leaves it waiting. Nothing starts afterwards; the program stays.
    void waitingStartIsDropped_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("a key") << false;
        QTest::newRow("Alt, then a close") << true;
    }

    void waitingStartIsDropped()
    {
        QFETCH(bool, close);
        visualList()->setCurrentIndex(1);
        soundList()->setCurrentIndex(1);
        // Start clicked right after the last session's key, until it finds that session's
        // workers still winding down.
        for (int i = 0; i < 400 && !startWaiting(); ++i) {
            if (sessionRunning(&SessionFlag))
                stopSession();
            clickStart();
            pressAndRelease(stimulationWindow(), Qt::Key_Escape);
            QTest::mouseClick(startButton(), Qt::LeftButton);
        }
        QVERIFY2(startWaiting(), "no Start ever found the last workers still running");
        if (close) {
            pressAndRelease(controlWindow(), Qt::Key_Alt, Qt::AltModifier);
            QVERIFY(startWaiting());
            QVERIFY(!controlWindow()->close());
        } else {
            // The control window hands its keys to Start (whether the window system has
            // made the window active again by now or not, which is its own affair).
            QCOMPARE(controlWindow()->focusWidget(), static_cast<QWidget*>(startButton()));
            pressAndRelease(controlWindow(), Qt::Key_Space);
        }
        QVERIFY(!startWaiting());
        QVERIFY(waitForWorkers(kHangMs));
        QTest::qWait(100);
        QCOMPARE(desktop(), kIdle);
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
        start(2000);
        QCOMPARE(desktop(), kInSession);
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
        QTest::qWait(50);
        QCOMPARE(desktop(), kIdle);
        QVERIFY(!startButton()->isDown());
        QCOMPARE(slider()->value(), 2000);
        // A new press is the focused control's: the key is not held back for ever.
        pressAndRelease(controlWindow(), key);
        QVERIFY(startDone());
        QCOMPARE(sessionRunning(&SessionFlag), !onSlider);
        QCOMPARE(slider()->value(), onSlider ? 2001 : 2000);
    }

    // With a strobe running, the grey read at any moment is the one of the tick due then,
    // counted from the strobe's start: a stale grey, a wrong origin or a wrong tick length
    // would each show a grey of another moment of the curve. The window repaints once per
    // display frame at most, however fast the grey changes, and in at least `fewest` greys:
    // at 29,41 a 17 ms frame is half the 34 ms cycle, so on a punctual timer it may paint
    // the same two greys by turns.
    void strobeFollowsTheClock_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("fewest");
        QTest::newRow("0,10") << 10 << 4;
        QTest::newRow("7,80") << 780 << 4;
        QTest::newRow("29,41, the fastest a 60 Hz screen shows") << 2941 << 2;
    }

    void strobeFollowsTheClock()
    {
        QFETCH(int, frequency);
        QFETCH(int, fewest);
        const double step = phaseStep(ticksPerCycle(static_cast<std::uint32_t>(frequency)));
        start(frequency);
        QTRY_COMPARE_WITH_TIMEOUT(strobeTimersRunning(), 1, kHangMs);
        // The tick due now on CLOCK_MONOTONIC, which steady_clock reads.
        const auto tick = [origin = strobeTimerOriginNs()] {
            using namespace std::chrono;
            const nanoseconds now = steady_clock::now().time_since_epoch();
            return (now.count() - origin) / (std::int64_t{kStrobeTickMs} * 1000000);
        };
        // The paints and their greys are counted once showing the window has painted it.
        QElapsedTimer clock;
        std::uint64_t paintsBefore = 0;
        QSet<int> painted;
        for (int i = 0; i < 200; ++i) {
            if (i == 50) {
                paintsBefore = paintCount();
                clock.start();
            }
            const std::int64_t first = tick();
            const int level = strobePublishedLevel();
            const std::int64_t last = tick();
            bool due = false;
            for (std::int64_t k = first; k <= last; ++k)
                due = due || level == strobeLevel(static_cast<std::uint32_t>(k), step);
            QVERIFY2(due, qPrintable(QStringLiteral("grey %1 at tick %2 of the strobe")
                                         .arg(level).arg(first)));
            if (i >= 50)
                painted.insert(paintedLevel());
            QTest::qWait(3);
        }
        const qint64 elapsed = clock.elapsed();
        const std::uint64_t paints = paintCount() - paintsBefore;
        QVERIFY2(painted.size() >= fewest, "the window's grey hardly changed");
        // One look per frame interval, one for the interval under way, and one for a frame
        // overdue when the count began: a timer late by less than its interval fires
        // again on time right after. Load can only lower the count further.
        QVERIFY2(paints <= static_cast<std::uint64_t>(elapsed / frameIntervalMs() + 2),
                 qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(elapsed)));
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
        QCOMPARE(desktop(), kIdle);
    }
};

QTEST_MAIN(FaceTest)
#include "face_test.moc"
