"""The Windows face's fresh control window, checked against the window the users know,
written out here on its own: its title, place and frame, its icon, its twelve controls
(class, id, place, text), what each control does with the mouse and the keyboard where
its style shows, the lists' Russian items, the hidden black stimulation window; then
closed, ending the program with 0. Run under LANG=C: the texts read back through the
wide calls must still be Russian under a code page that is not 1251.
Usage: control_window.py WINE-RUN PROBE.exe ZARVELIN.exe   (under with-xvfb.sh,
with-openbox.sh and with-pulse.sh)"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "linux_face"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import xsession as xs  # noqa: E402
from end_to_end import Run  # noqa: E402
from report import check, passed  # noqa: E402
from wine_driver import WineFace, text  # noqa: E402

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CLIPSIBLINGS, WS_SYSMENU, WS_THICKFRAME = 0x04000000, 0x00080000, 0x00040000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_EX_WINDOWEDGE, WS_EX_DLGMODALFRAME = 0x20000, 0x10000, 0x100, 0x1
CS_BYTEALIGNCLIENT = 0x1000

# The control window as its users know it: class, id, client rectangle, text, in the
# order the system lists the children. A closed drop-down list is one line high (None:
# the system's); Wine widens an up-down with a buddy but no alignment to 16 pixels.
CONTROLS = [
    ("Static", 0, (5, 5, 150, 15), "Частота воздействия:"),
    ("Edit", 0, (160, 5, 40, 15), "7,80"),
    ("Static", 0, (201, 5, 20, 15), "\u0413\u0446"),
    ("msctls_trackbar32", 12, (242, 5, 250, 15), ""),
    ("msctls_updown32", 11, (222, 5, (10, 16), 15), ""),
    ("Static", 0, (5, 33, 160, 15), "Звуковое воздействие:"),
    ("Static", 0, (5, 63, 175, 15), "Зрительное воздействие:"),
    ("Static", 0, (5, 102, 160, 15), "www.zarvelin.org"),
    ("Static", 0, (380, 102, 105, 15), "версия 04.2004"),
    ("ComboBox", 0, (185, 30, 305, None), "Бинауральные биения"),
    ("ComboBox", 0, (185, 60, 305, None), "\u0421\u0442\u0440\u043e\u0431\u043e\u0441\u043a\u043e\u043f"),
    ("Button", 10, (215, 95, 70, 30), "\u0417\u0430\u043f\u0443\u0441\u043a"),
]
SOUNDS = ["Отсутствует", "Бинауральные биения", "Гудки", "Модуляция белого шума"]
VISUALS = ["Отсутствует", "Стробоскоп"]


def fits(value, want):
    return want is None or value in (want if isinstance(want, tuple) else (want,))


def main_window(run, probe):
    lines = {line.split()[0]: line.split()[1:] for line in probe.lines("window")}
    title, class_style, style, ex_style, *rect = lines["control"]
    check(text(title) == "Zarvelin", "the control window's title is %r" % text(title))
    check(int(class_style) == 0, "the control window's class style is %s" % class_style)
    style, ex_style = int(style), int(ex_style)
    check(style & (WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX) == WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX,
          "the control window lacks its system menu or minimise box: %#x" % style)
    check(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_POPUP) == 0,
          "the control window can be maximised or sized, or is no top-level window: %#x" % style)
    check(ex_style & ~WS_EX_WINDOWEDGE == 0, "the control window's extended style is %#x" % ex_style)
    # Centred less 250 on the test display's 1920 pixels, 500 by 170.
    check(lines["screen"][:2] == ["1920", "1080"], "the screen is %r" % lines["screen"])
    check(list(map(int, rect)) == [710, 50, 500, 170], "the control window at %r" % rect)
    check(int(lines["screen"][4]) != 1251, "the system code page is 1251: the texts prove nothing")
    # The class background: a blank spot between the lists, the button and the version
    # shows the system's button face colour on the X screen.
    x, y = run.d.origin(run.control)
    face = int(lines["client"][3])
    want = (face & 0xFF, face >> 8 & 0xFF, face >> 16 & 0xFF)
    check(run.d.pixel(x + 450, y + 88) == want, "the background is %r, not the button face %r"
          % (run.d.pixel(x + 450, y + 88), want))
    visible, class_style, style, parent, *rect = lines["stimulation"]
    check(visible == "0", "the stimulation window shows before Start")
    check(int(class_style) == CS_BYTEALIGNCLIENT, "the stimulation window's class style is %s" % class_style)
    check(int(style) & ~WS_CLIPSIBLINGS == WS_POPUP, "the stimulation window's style is %#x" % int(style))
    check(parent == "0", "the stimulation window has a parent")
    check(list(map(int, rect)) == [0, 0, 1920, 1080], "the stimulation window at %r" % rect)


def icon(probe, exe):
    """One 32 by 32 image of 16 colours (4 bits a pixel, colour and mask), as id 101."""
    found = probe.words("icon Z:" + os.path.abspath(exe).replace("/", "\\"))
    check(found == ["1", "32", "32", "16", "4", "32", "64", "4"],
          "icon 101 (images, width, height, colours, bits; the image's width, height, bits): %r" % found)


def children(probe):
    rows = [line.split() for line in probe.lines("controls")]
    check(len(rows) == len(CONTROLS), "%d controls, not %d" % (len(rows), len(CONTROLS)))
    for row, (cls, ident, (x, y, w, h), caption) in zip(rows, CONTROLS):
        got_cls, got_id = text(row[1]), int(row[2])
        gx, gy, gw, gh = map(int, row[3:7])
        style, ex_style, got_text = int(row[11]), int(row[12]), text(row[13])
        where = "control %s (%s)" % (row[0], cls)
        check(got_cls.lower() == cls.lower() and got_id == ident, "%s: class %s, id %d" % (where, got_cls, got_id))
        check((gx, gy) == (x, y) and fits(gw, w) and fits(gh, h), "%s at %r" % (where, (gx, gy, gw, gh)))
        check(got_text == caption, "%s reads %r, not %r" % (where, got_text, caption))
        check(style & (WS_CHILD | WS_VISIBLE) == WS_CHILD | WS_VISIBLE, "%s is hidden: %#x" % (where, style))
        if cls == "Button":
            check(ex_style & WS_EX_DLGMODALFRAME, "the Start button has no raised frame: %#x" % ex_style)


def controls_at_work(run):
    """The frequency controls start at the default over 0,10..50,00 with the arrows'
    buddy the slider; the lists hold their items in order with the second selected; the
    display takes no typing; a list takes no free text, a letter only selects."""
    f = run.face.frequency()
    check(f["slider"] == [10, 5000, 780, 13], "the slider's range, position, thumb: %r" % f["slider"])
    check(f["arrows"] == [10, 5000, 780, 1], "the arrows' range, position, buddy: %r" % f["arrows"])
    check(f["display"] == "7,80", "the display shows %r" % f["display"])
    lists = run.face.lists(items=True)
    for got, items in zip(lists, [SOUNDS, VISUALS]):
        check((got["count"], got["selected"], got["text"]) == (len(items), 1, items[1]),
              "a list holds %d items, the %d. selected, reading %r" % (got["count"], got["selected"], got["text"]))
        check(got["items"] == items, "the list's items read back as %r" % got["items"])
    run.click((160 + 20, 5 + 7))
    xs.xdotool("key", "End", "5", "BackSpace", "BackSpace")
    time.sleep(0.3)
    check(run.face.frequency()["display"] == "7,80", "typing changed the display: %r"
          % run.face.frequency()["display"])
    run.click(xs.VISUAL_LIST)
    time.sleep(0.3)
    xs.xdotool("key", "x", "Escape")
    time.sleep(0.3)
    visual = run.face.lists()[1]
    check(visual["text"] in VISUALS and visual["selected"] == 1, "a letter typed into the visual list: %r" % visual)


def main():
    face = WineFace.from_command_line(__doc__.strip().split("Usage: ")[1])
    run = Run(face)
    try:
        main_window(run, face.probe)
        icon(face.probe, face.exe)
        children(face.probe)
        controls_at_work(run)
        run.close()
    finally:
        face.output()
    passed("control window")


if __name__ == "__main__":
    main()
