"""The monitor choice end to end: the real Controller with its Driver on a simulated foil, on
a desktop of two monitors (with-desktop --two-monitors: LEFT and RIGHT, each half of a 2560 x
800 screen), the window driven through the accessibility bus, the pointer and the keyboard:
    with-desktop --two-monitors /usr/bin/python3 monitors_path_test.py CONTROLLER KVCTL \
        [DESKTOP_SHOT PICTURE]
With DESKTOP_SHOT (tests/rigs/desktop-shot) and a PNG path, the window with the open list is saved
there as the README shows it.

The "Monitor" list offers the whole desktop and both monitors; choosing RIGHT makes the
driver map onto x 0.5 .. 1.0 with regional mapping and CONTROLLER.INI remember it; the
calibration dialog then covers RIGHT alone and a finger on its targets calibrates; afterwards
the driver's XTest pointer follows a finger onto RIGHT and never past its edges; unplugging
RIGHT (xrandr --delmonitor) brings the driver back to the whole desktop and says so on the
About page, while the choice of RIGHT is kept. A Controller started again keeps the driver's
calibration angle (a screen calibrated rotated) as it restores the region."""

import os
import re
import subprocess
import sys
import time

# The shared session comes from the Setting page's test; no bytecode beside the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import controller_a11y as a11y  # noqa: E402
from setting_path_test import (  # noqa: E402
    DIALOG,
    WINDOW,
    Session,
    calibrate_with_finger,
    check_references,
    eventually,
    read_ini,
    run_session,
)


def monitor_list():
    # Found by its label, as a screen reader names it (its own name is its current entry).
    return a11y.control(WINDOW, "combo box", "Monitor:")


def items(combo):
    """The entries of the list, in order."""
    names = []
    for child in combo:
        if child is None:
            continue
        for item in child:
            if item is not None:
                names.append(item.name)
    return names


def region(session):
    state = session.get("Calib/State")
    if state is None:
        return None
    return (
        state["exclude_edge_flag"],
        round(state["exclude_edge_left"], 3),
        round(state["exclude_edge_top"], 3),
        round(state["exclude_edge_right"], 3),
        round(state["exclude_edge_bottom"], 3),
    )


def extents(accessible):
    box = accessible.queryComponent().getExtents(a11y.pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.x + box.width, box.y + box.height


def take_picture(shot, picture):
    """The Controller's window and the open list, from the real desktop."""
    boxes = [extents(a11y.window(WINDOW)), extents(monitor_list()[0])]
    left, top = min(b[0] for b in boxes), min(b[1] for b in boxes)
    right, bottom = max(b[2] for b in boxes), max(b[3] for b in boxes)
    time.sleep(0.5)  # the list's opening animation, if the style has one
    subprocess.run(
        [shot, str(left), str(top), str(right - left), str(bottom - top), picture], check=True
    )
    print("Picture of the choice: %s" % picture)


def choose(entry, shot=None):
    """Picks the entry as a user does: a click opens the list, Down moves, Return takes.
    With shot (desktop-shot and a PNG path), the open list is pictured before Return."""
    combo = monitor_list()
    entries = items(combo)
    assert entry in entries, "%r not among %s" % (entry, entries)
    box = combo.queryComponent().getExtents(a11y.pyatspi.DESKTOP_COORDS)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
    eventually(
        "the list never opened",
        lambda: monitor_list()[0].getState().contains(a11y.pyatspi.STATE_SHOWING),
    )
    # The open list starts at the current entry, the whole desktop.
    for _ in range(entries.index(entry)):
        subprocess.run(["xdotool", "key", "Down"], check=True)
    if shot is not None:
        take_picture(*shot)
    subprocess.run(["xdotool", "key", "Return"], check=True)


def pointer_at():
    """Where the real X pointer is, in desktop pixels."""
    out = subprocess.run(
        ["xdotool", "getmouselocation", "--shell"], check=True, capture_output=True, text=True
    ).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"])


def near(point, goal, slack=24):
    return abs(point[0] - goal[0]) <= slack and abs(point[1] - goal[1]) <= slack


def check_pointer_on_right(session):
    """With the pointer on (move only, no button), the foil's centre lands on RIGHT's centre
    and its left edge on RIGHT's left edge, never on LEFT."""
    enable = subprocess.run(
        [
            session.kvctl,
            "set",
            "Output/State",
            "Enable=1",
            "Mode=1",
            "--port",
            str(session.driver_port),
        ],
        capture_output=True,
        text=True,
    )
    assert enable.returncode == 0, enable.stderr
    # Away from where the finger will take it, so that a pointer that never moves shows.
    subprocess.run(["xdotool", "mousemove", "100", "700"], check=True)
    session.touch("down 1 0.500 0.500")
    try:
        eventually(
            "a finger at the foil's centre left the pointer at %s, not at RIGHT's centre"
            % (pointer_at(),),
            lambda: near(pointer_at(), (1920, 400)),
        )
        print("Foil centre -> pointer at %s" % (pointer_at(),))
        session.touch("move 1 0.010 0.500")
        eventually(
            "a finger at the foil's left edge put the pointer at %s" % (pointer_at(),),
            lambda: near(pointer_at(), (1280, 400), slack=40),
        )
        print("Foil left edge -> pointer at %s" % (pointer_at(),))
        assert pointer_at()[0] >= 1280, "the pointer went onto LEFT: %s" % (pointer_at(),)
    finally:
        session.touch("up 1")


def run_monitors(session, shot=None):
    a11y.select_tab(WINDOW, "Advanced")
    eventually("the driver never answered", lambda: region(session) is not None)
    combo = monitor_list()
    entries = items(combo)
    assert entries == [
        "Whole desktop",
        "LEFT (1280\u00d7800)",
        "RIGHT (1280\u00d7800)",
    ], "the list holds %s" % entries

    choose("RIGHT (1280\u00d7800)", shot)
    right = (2, 0.5, 0.0, 1.0, 1.0)
    eventually("the driver never mapped onto RIGHT", lambda: region(session) == right)
    profile = os.path.join(session.install, "CONTROLLER.INI")
    eventually(
        "CONTROLLER.INI never remembered RIGHT",
        lambda: read_ini(profile).get("MONITOR") == "RIGHT",
    )
    eventually(
        "DRIVER.INI never held the region",
        lambda: session.driver_ini().get("exclude_edge_flag") == "2",
    )

    # Calibration on RIGHT: the dialog covers that monitor only, and a finger held on the
    # foil where each target shows calibrates as on a single screen.
    a11y.select_tab(WINDOW, "Setting")
    time.sleep(4)  # the baseline settles before the first touch
    a11y.press(WINDOW, "push button", "Calibration")
    dialog = a11y.window(DIALOG)
    box = dialog.queryComponent().getExtents(a11y.pyatspi.DESKTOP_COORDS)
    covered = (box.x, box.y, box.width, box.height)
    assert covered == (1280, 0, 1280, 800), "the dialog covers %s" % (covered,)
    pressed = calibrate_with_finger(session)
    assert pressed == ["TL", "TR", "BL"], "targets shown in the order %s" % pressed
    check_references(session)
    assert region(session) == right, "the region after calibration: %s" % (region(session),)
    check_pointer_on_right(session)

    # The choice outlives the Controller: started again, it shows RIGHT and keeps the region,
    # and the driver's calibration angle with it. The angle is the driver's own (no peer may
    # set it): it comes from DRIVER.INI, saved first so that nothing else goes back.
    port = ["--port", str(session.driver_port)]
    ini = os.path.join(session.install, "DRIVER.INI")
    os.remove(ini)
    subprocess.run([session.kvctl, "save", *port], check=True, capture_output=True)
    eventually(
        "the driver did not save its settings",
        lambda: session.driver_ini().get("Output_State_Enable") == "true",
    )
    with open(ini, "rb") as f:
        text = f.read().decode("latin-1")
    with open(ini, "wb") as f:
        f.write(re.sub(r"Calib_State_Angle=-?\d+", "Calib_State_Angle=1", text).encode("latin-1"))
    subprocess.run([session.kvctl, "load", *port], check=True, capture_output=True)
    eventually(
        "the driver never took the angle from DRIVER.INI",
        lambda: (session.get("Calib/State") or {}).get("Angle") == 1,
    )
    session.restart_controller()
    a11y.select_tab(WINDOW, "Advanced")
    eventually(
        "the restarted Controller does not show RIGHT as the choice",
        lambda: monitor_list().name == "RIGHT (1280\u00d7800)",
    )
    time.sleep(4)  # past the driver's publish-all to the new Controller and what follows it
    state = session.get("Calib/State")
    assert state["Angle"] == 1, "the Controller's start turned the calibration: %s" % state
    assert region(session) == right, "the region changed with the restart: %s" % (region(session),)
    assert session.driver_ini().get("Calib_State_Angle") == "1", "DRIVER.INI lost the angle"

    a11y.select_tab(WINDOW, "Advanced")
    subprocess.run(["xrandr", "--delmonitor", "RIGHT"], check=True, capture_output=True)
    whole = (1, 0.0, 0.0, 1.0, 1.0)
    eventually("the driver stayed on RIGHT after it went", lambda: region(session) == whole)
    # Only switched off, perhaps: the choice is kept until the user makes another.
    eventually(
        "the list does not show RIGHT as chosen and not connected: %s" % items(monitor_list()),
        lambda: monitor_list().name == "RIGHT (not connected)",
    )
    assert read_ini(profile).get("MONITOR") == "RIGHT", "CONTROLLER.INI forgot RIGHT"
    a11y.select_tab(WINDOW, "About")
    eventually(
        "the About page does not say RIGHT went",
        lambda: "RIGHT is not connected" in a11y.text_of(WINDOW, "About"),
    )


def main():
    controller, kvctl = sys.argv[1], sys.argv[2]
    shot = tuple(sys.argv[3:5]) if len(sys.argv) >= 5 else None
    return run_session(
        Session(controller, kvctl, pointer="xtest"), lambda session: run_monitors(session, shot)
    )


if __name__ == "__main__":
    sys.exit(main())
