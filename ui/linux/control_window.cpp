#include "ui/linux/control_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QString>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "settings/frequency_text.h"
#include "session/session_controller.h"
#include "settings/session_flag.h"
#include "settings/settings.h"
#include "ui/control_table.h"
#include "ui/linux/face_probe.h"

namespace {

// Closing the control window ends the program, except while a session runs: the window
// is disabled then and, as on every desktop, takes no orders until the key press. While
// a Start waits for the last session's workers the session has begun for the user, and
// a close (Alt+F4 at the window that still has the keyboard) ends that session instead.
class ControlWindowWidget : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (sessionRunning(&SessionFlag)) {
            event->ignore();
            return;
        }
        if (startWaiting()) {
            event->ignore();
            stopSession();
            return;
        }
        event->accept();
        QCoreApplication::quit();
    }
};

// A left click in the slider's channel moves the thumb one page toward the click, as
// the trackbar does on Windows; some desktop styles would rather jump to the click.
class PagingSliderStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override
    {
        const int base = QProxyStyle::styleHint(hint, option, widget, returned);
        if (hint == SH_Slider_AbsoluteSetButtons)
            return base & ~static_cast<int>(Qt::LeftButton);
        if (hint == SH_Slider_PageSetButtons)
            return base | static_cast<int>(Qt::LeftButton);
        return base;
    }
};

// The keys move the value as on the Windows trackbar, whose value grows to the right and
// downward: Up and Page Up lower it, Down and Page Down raise it. Left, Right, Home and
// End already move as there.
class TrackbarSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Up:
            triggerAction(SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            triggerAction(SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            triggerAction(SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            triggerAction(SliderPageStepAdd);
            break;
        default:
            QSlider::keyPressEvent(event);
            return;
        }
        event->accept();
    }
};

ControlWindowWidget* gWindow = nullptr;
QWidget* gControls[kControlCount] = {};
QLineEdit* gDisplay = nullptr;
QSlider* gSlider = nullptr;
QComboBox* gSoundList = nullptr;
QComboBox* gVisualList = nullptr;
std::uint32_t gArrowsPosition = kDefaultFrequency;
QTimer* gStartFollower = nullptr; // looks again while a Start waits for old workers

// How often a waiting Start looks whether the last session's workers have ended: they
// end within milliseconds of the key, and the window stays live meanwhile.
constexpr int kStartFollowMs = 2;

constexpr int kArrowUpHeight = 7; // of the 15: the up arrow on top, the down arrow below

void showFrequency(std::uint32_t position)
{
    gDisplay->setText(QString::fromLatin1(FrequencyText(position).data()));
}

// The slider moved (by mouse, keyboard or wheel): the arrows follow. The settings are
// left alone: Start captures the arrows' position, and until the last session's
// workers have wound down they may still be reading the settings.
void onSliderMoved(int value)
{
    gArrowsPosition = static_cast<std::uint32_t>(value);
    showFrequency(gArrowsPosition);
}

// An arrow was clicked, or is held and repeats: one hundredth of a hertz per step,
// stopping at the ends of the range; the slider follows without echoing back.
void onArrow(int step)
{
    const auto wanted = static_cast<std::int64_t>(gArrowsPosition) + step;
    if (wanted < kMinFrequency || wanted > kMaxFrequency)
        return;
    gArrowsPosition = static_cast<std::uint32_t>(wanted);
    {
        const QSignalBlocker quiet(gSlider);
        gSlider->setValue(static_cast<int>(gArrowsPosition));
    }
    showFrequency(gArrowsPosition);
}

void follow(StartResult result)
{
    if (result == StartResult::Waiting)
        gStartFollower->start();
    else
        gStartFollower->stop();
}

// Start hands the controls' values to the session: the arrows' position and the two
// lists' selections, whose positions are the mode values.
void onStart()
{
    StimulationSettings wanted;
    wanted.frequency = gArrowsPosition;
    wanted.soundMode = static_cast<SoundMode>(gSoundList->currentIndex());
    wanted.visualMode = static_cast<VisualMode>(gVisualList->currentIndex());
    follow(startSession(wanted));
}

QWidget* makeArrows(QWidget* parent, const ControlRow& entry)
{
    auto* arrows = new QWidget(parent);
    auto* up = new QToolButton(arrows);
    auto* down = new QToolButton(arrows);
    up->setObjectName(QStringLiteral("up"));
    down->setObjectName(QStringLiteral("down"));
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    up->setGeometry(0, 0, entry.width, kArrowUpHeight);
    down->setGeometry(0, kArrowUpHeight, entry.width, entry.height - kArrowUpHeight);
    for (QToolButton* b : {up, down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(false);
    }
    QObject::connect(up, &QToolButton::clicked, [] { onArrow(+1); });
    QObject::connect(down, &QToolButton::clicked, [] { onArrow(-1); });
    return arrows;
}

QComboBox* makeList(QWidget* parent, const ControlRow& entry)
{
    auto* list = new QComboBox(parent);
    int count = 0;
    const char* const* captions = listCaptions(entry.role, &count);
    for (int i = 0; i < count; ++i)
        list->addItem(QString::fromUtf8(captions[i]));
    list->setCurrentIndex(kInitialListSelection);
    list->setInsertPolicy(QComboBox::NoInsert);
    return list;
}

QWidget* makeControl(QWidget* parent, const ControlRow& entry)
{
    const QString text = QString::fromUtf8(entry.text);
    switch (entry.role) {
    case ControlRole::Label:
        return new QLabel(text, parent);
    case ControlRole::FrequencyDisplay: {
        gDisplay = new QLineEdit(text, parent);
        gDisplay->setReadOnly(true);
        gDisplay->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        gDisplay->setFrame(false);
        gDisplay->setFocusPolicy(Qt::NoFocus);
        // A read-only field sits on the window's own face, as on every desktop.
        QPalette face = gDisplay->palette();
        face.setColor(QPalette::Base, face.color(QPalette::Window));
        gDisplay->setPalette(face);
        return gDisplay;
    }
    case ControlRole::Slider: {
        gSlider = new TrackbarSlider(Qt::Horizontal, parent);
        gSlider->setRange(static_cast<int>(kMinFrequency), static_cast<int>(kMaxFrequency));
        gSlider->setValue(static_cast<int>(kDefaultFrequency));
        gSlider->setPageStep(kSliderPage);
        auto* style = new PagingSliderStyle;
        style->setParent(gSlider);
        gSlider->setStyle(style);
        QObject::connect(gSlider, &QSlider::valueChanged, onSliderMoved);
        return gSlider;
    }
    case ControlRole::Arrows:
        return makeArrows(parent, entry);
    case ControlRole::SoundList:
        gSoundList = makeList(parent, entry);
        return gSoundList;
    case ControlRole::VisualList:
        gVisualList = makeList(parent, entry);
        return gVisualList;
    case ControlRole::StartButton: {
        auto* start = new QPushButton(text, parent);
        QObject::connect(start, &QPushButton::clicked, onStart);
        return start;
    }
    }
    return nullptr;
}

} // namespace

void createControlWindow()
{
    gWindow = new ControlWindowWidget;
    gWindow->setWindowTitle(QString::fromUtf8(kControlWindowTitle));
    // A caption with the system menu, minimise and close; no maximise, no sizing.
    gWindow->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint);
    gWindow->setFixedSize(kControlClientWidth, kControlClientHeight);
    const QIcon icon(QStringLiteral(":/zarvelin.ico"));
    if (!icon.isNull())
        gWindow->setWindowIcon(icon);
    // Rows of 15 pixels want a small face; DejaVu carries the Cyrillic captions.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    gWindow->setFont(font);

    gArrowsPosition = kDefaultFrequency;
    gStartFollower = new QTimer(gWindow);
    gStartFollower->setInterval(kStartFollowMs);
    QObject::connect(gStartFollower, &QTimer::timeout, [] { follow(continueStart()); });
    for (int i = 0; i < kControlCount; ++i) {
        const ControlRow& entry = kControls[i];
        QWidget* w = makeControl(gWindow, entry);
        const bool list = entry.role == ControlRole::SoundList || entry.role == ControlRole::VisualList;
        w->setGeometry(entry.x, entry.y, entry.width, list ? kListClosedHeight : entry.height);
        gControls[i] = w;
    }

    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen != nullptr ? screen->geometry().width() : 0;
    gWindow->move(controlWindowLeft(screenWidth), kControlWindowTop);
    gWindow->show();
}

void destroyControlWindow()
{
    delete gWindow;
    gWindow = nullptr;
    for (QWidget*& w : gControls)
        w = nullptr;
    gDisplay = nullptr;
    gSlider = nullptr;
    gSoundList = gVisualList = nullptr;
    gStartFollower = nullptr;
}

QWidget* controlWindow()
{
    return gWindow;
}

QWidget* controlWidget(int index)
{
    return index >= 0 && index < kControlCount ? gControls[index] : nullptr;
}

std::uint32_t arrowsPosition()
{
    return gArrowsPosition;
}
