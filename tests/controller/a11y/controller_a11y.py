"""Finds and presses the Controller's controls through the accessibility bus, as a screen
reader does: windows by title, controls by role and accessible name (or the label they are
labelled by).

As a command (for the whole-program test):
    controller_a11y.py press WINDOW ROLE NAME   press a control (e.g. "push button" "Quit")
    controller_a11y.py text WINDOW NAME         print a text control's text
    controller_a11y.py select WINDOW TAB        select a page tab by its name
    controller_a11y.py wait WINDOW              wait until the window is on the bus
    controller_a11y.py tray                     click the icon on the tray panel
Every command waits up to its deadline for the window and the control to appear."""

import os
import subprocess
import sys

import pyatspi

# The shared helpers of the Python tests; no bytecode beside the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from polling import DEADLINE_S, free_port, wait_for  # noqa: E402,F401


# Whether a Driver holds its single-instance lock (the lock file in its runtime folder).
def driver_running(lock):
    import fcntl

    try:
        with open(lock) as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return False
    except FileNotFoundError:
        return False
    except OSError:
        return True


def _walk(accessible, depth=0):
    if accessible is None or depth > 40:
        return
    yield accessible
    try:
        children = list(accessible)
    except Exception:  # the object went away while we looked
        return
    for child in children:
        yield from _walk(child, depth + 1)


def top_windows():
    """Every top-level window of every application on the desktop."""
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        try:
            windows = list(app)
        except Exception:  # the application went away while we looked
            continue
        yield from (window for window in windows if window is not None)


def find_window(title):
    """The top-level window with this exact title, or None."""
    return next((window for window in top_windows() if window.name == title), None)


def _labels(accessible):
    """Names of the labels the control is labelled by (how a screen reader names a combo box,
    whose own name on Linux is its current text)."""
    names = []
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                names.append(relation.getTarget(i).name)
    return names


def showing(title):
    """True while the window with this title is on the screen (a hidden window stays on the
    bus)."""
    win = find_window(title)
    try:
        return win is not None and win.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # the window went away while we looked
        return False


def find_control(window, role, name):
    for accessible in _walk(window):
        try:
            if accessible.getRoleName() == role and (
                accessible.name == name or name in _labels(accessible)
            ):
                return accessible
        except Exception:
            continue
    return None


def window(title):
    return wait_for("window %r" % title, lambda: find_window(title))


def control(title, role, name):
    def probe():
        win = find_window(title)
        return find_control(win, role, name) if win is not None else None

    return wait_for("%s %r in %r" % (role, name, title), probe)


def press(title, role, name):
    accessible = control(title, role, name)
    actions = accessible.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    for wanted in ("Press", "press", "click", "Toggle", "SetFocus"):
        if wanted in names:
            actions.doAction(names.index(wanted))
            return
    raise AssertionError("%s %r has no press action (%s)" % (role, name, names))


def select_tab(title, tab):
    press(title, "page tab", tab)


def click_tray():
    """Clicks the first icon on trayer's panel (the only one on our private desktop)."""

    def probe():
        found = subprocess.run(
            ["xdotool", "search", "--name", "^panel$"], capture_output=True, text=True
        ).stdout.split()
        if not found:
            return None
        geometry = subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", found[0]], capture_output=True, text=True
        ).stdout
        values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        # The panel grows to the icon's width once an icon is docked.
        return values if int(values.get("WIDTH", "0")) > 8 else None

    panel = wait_for("an icon on the tray panel", probe)
    x = int(panel["X"]) + 12
    y = int(panel["Y"]) + int(panel["HEIGHT"]) // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def text_of(title, name):
    """The text of the control with this accessible name (any text role)."""

    def probe():
        win = find_window(title)
        if win is None:
            return None
        for accessible in _walk(win):
            try:
                if accessible.name == name and accessible.getRoleName() in (
                    "text",
                    "paragraph",
                    "document text",
                    "entry",
                ):
                    return accessible
            except Exception:
                continue
        return None

    accessible = wait_for("text %r in %r" % (name, title), probe)
    return accessible.queryText().getText(0, -1)


def main(argv):
    if len(argv) >= 2 and argv[1] == "press" and len(argv) == 5:
        press(argv[2], argv[3], argv[4])
    elif len(argv) == 4 and argv[1] == "text":
        sys.stdout.write(text_of(argv[2], argv[3]))
    elif len(argv) == 4 and argv[1] == "select":
        select_tab(argv[2], argv[3])
    elif len(argv) == 2 and argv[1] == "tray":
        click_tray()
    elif len(argv) == 3 and argv[1] == "wait":
        window(argv[2])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except AssertionError as error:
        sys.stderr.write("controller_a11y: %s\n" % error)
        sys.exit(1)
