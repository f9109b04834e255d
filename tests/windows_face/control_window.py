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
sys.path[:0] = [HERE, os.path.join(HERE, "..", "linux_face"), os.path.join(HERE, "..", "harness")]
import xsession as xs  # noqa: E402
from end_to_end import Run  # noqa: E402
from report import check, passed  # noqa: E402
from wine_driver import WineFace, text  # noqa: E402

# The values winuser.h gives these styles.
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


def same(got, want, what):
    check(got == want, "%s: %r, not %r" % (what, got, want))


def main_window(run):
    """Title, styles and place of both windows; the background the system's button face."""
    lines = {line.split()[0]: line.split()[1:] for line in run.face.ask("window")}
    title, class_style, style, ex_style, *rect = lines["control"]
    # Shown, with a system menu and a minimise box; no maximise box, no sizing frame, no
    # child or pop-up. Centred less 250 on the test display's 1920 pixels, 500 by 170.
    bits = WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_POPUP
    same((text(title), int(class_style), int(style) & bits, int(ex_style) & ~WS_EX_WINDOWEDGE,
          list(map(int, rect))),
         ("Zarvelin", 0, WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX, 0, [710, 50, 500, 170]),
         "the control window's title, class style, style bits, extended style, place")
    check(lines["codepage"][0] != "1251", "the system code page is 1251: the texts prove nothing")
    # A blank spot between the lists, the button and the version, on the X screen.
    x, y = run.d.origin(run.control)
    face = int(lines["face"][0])
    same(run.d.pixel(x + 450, y + 88), (face & 0xFF, face >> 8 & 0xFF, face >> 16 & 0xFF), "the background")
    visible, class_style, style, parent, *rect = lines["stimulation"]
    same((visible, int(class_style), int(style) & ~WS_CLIPSIBLINGS, parent, list(map(int, rect))),
         ("0", CS_BYTEALIGNCLIENT, WS_POPUP, "0", [0, 0, 1920, 1080]),
         "the stimulation window's visibility, class style, style, parent, place (the screen)")


def children(face):
    """The twelve controls in order, shown; the Start button in a raised frame."""
    rows = [line.split() for line in face.ask("controls")]
    same(len(rows), len(CONTROLS), "the number of controls")
    for row, (cls, ident, (x, y, w, h), caption) in zip(rows, CONTROLS):
        got_x, got_y, got_w, got_h, style, ex_style = map(int, row[2:8])
        where = "control %s %r" % (cls, caption)
        same((text(row[0]).lower(), int(row[1]), text(row[8]), style & (WS_CHILD | WS_VISIBLE)),
             (cls.lower(), ident, caption, WS_CHILD | WS_VISIBLE), where + ": class, id, text, a shown child")
        check((got_x, got_y) == (x, y) and (w is None or got_w in (w if isinstance(w, tuple) else (w,)))
              and h in (None, got_h), "%s at %r" % (where, (got_x, got_y, got_w, got_h)))
        if cls == "Button":
            check(ex_style & WS_EX_DLGMODALFRAME, "the Start button has no raised frame: %#x" % ex_style)


def controls_at_work(run):
    """The frequency controls start at the default over 0,10..50,00 with the arrows'
    buddy the slider; the lists hold their items in order with the second selected; the
    display takes no typing; a list takes no free text, a letter only selects."""
    same(run.face.frequency(),
         {"slider": [10, 5000, 780, 13], "arrows": [10, 5000, 780, 1], "display": "7,80"},
         "the slider's range, position, thumb; the arrows' range, position, buddy; the display")
    for got, items in zip(run.face.lists(items=True), [SOUNDS, VISUALS]):
        same(got, {"count": len(items), "selected": 1, "text": items[1], "items": items}, "a list")
    run.click((160 + 20, 5 + 7))
    xs.xdotool("key", "End", "5", "BackSpace", "BackSpace")
    time.sleep(0.3)
    same(run.face.frequency()["display"], "7,80", "the display after typing into it")
    run.click(xs.VISUAL_LIST)
    time.sleep(0.3)
    xs.xdotool("key", "x", "Escape")
    time.sleep(0.3)
    visual = run.face.lists()[1]
    check(visual["text"] in VISUALS and visual["selected"] == 1,
          "a letter typed into the visual list: %r" % visual)


def main():
    face = WineFace.from_command_line(__doc__.strip().split("Usage: ")[1])
    run = Run(face)
    try:
        main_window(run)
        # The .ico's own images are checked by check_icons.py: here it is in the program,
        # as id 101, one 32 by 32 image of 16 colours.
        same(face.words("icon Z:" + os.path.abspath(face.exe).replace("/", "\\")),
             ["1", "32", "32", "16", "4"], "icon 101 (images; width, height, colours, bits)")
        children(face)
        controls_at_work(run)
        run.close()
    finally:
        face.output()
    passed("control window")


if __name__ == "__main__":
    main()
