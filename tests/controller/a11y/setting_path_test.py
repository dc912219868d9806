"""The Setting page and the calibration dialog end to end: the real Controller with its Driver
on a simulated foil that this test touches live through a named pipe, the window driven
through the accessibility bus as a screen reader user would. Runs under with-desktop:
    with-desktop /usr/bin/python3 setting_path_test.py calibrate|adaption|cancel CONTROLLER KVCTL

calibrate: the Setting page's "Calibration" button opens the dialog; each corner target is
    pressed and held where the dialog shows it; the dialog closes when the driver reports
    completion and DRIVER.INI then holds the pressed points as the new references.
adaption: on a foil whose noise sits between the two bounds of the search at sensitivity 8,
    "Auto" runs the search, the calibration dialog it opens is completed with the finger,
    and the driver ends with touch output enabled.
cancel: "Auto" on the same foil, then the progress window closed with Escape while the search
    runs: the Controller lives on, the search stops and the driver has its former sensitivity
    and threshold again."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import controller_a11y as a11y  # noqa: E402
from controller_a11y import driver_running, free_port, wait_for as eventually  # noqa: E402

WINDOW = "Kelvarin Vyren - Controller"
DIALOG = "Calibration"
HINT = "Press and Hold here"
PROGRESS_NOTE = "Note: Do not touch the Touch Panel"
DEADLINE_S = 120.0
PROFILE = b"[GENERAL]\r\nFIRST=0\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\nCONTROLLER=0\r\n"

# Where the finger presses each corner, in sensor fractions: near the targets of the default
# calibration (10 % in from the edges) but off them, so that new references show.
PRESS = {
    "TL": (0.12, 0.13),
    "TR": (0.87, 0.12),
    "BL": (0.13, 0.88),
}
# The scenario for the adaption run: a foil whose noise keeps the highest of 20 levels between
# 3.4 and 5 at sensitivity 8 (single levels about 1.5 to 4.8 there), without drift so that the
# level stays put over the run. A spike just after the sensitivity changes can still send the
# search one step down, so the test asks for success, not for the sensitivity it ends at.
ADAPTION_SCENARIO = "noise 0.85\ndrift 0\n"




def read_ini(path):
    values = {}
    try:
        with open(path, "rb") as ini:
            for line in ini.read().decode("latin-1").splitlines():
                if "=" in line:
                    key, value = line.split("=", 1)
                    values[key.strip()] = value.strip()
    except FileNotFoundError:
        pass
    return values


def hint_corner():
    """The corner whose target the dialog shows now ("TL", "TR", "BL"), from where the hint
    label sits on the screen, or None while no hint is shown."""
    win = a11y.find_window(DIALOG)
    if win is None:
        return None
    for accessible in a11y._walk(win):
        try:
            if accessible.name != HINT or accessible.getRoleName() != "label":
                continue
            if not accessible.getState().contains(a11y.pyatspi.STATE_SHOWING):
                continue
            box = accessible.queryComponent().getExtents(a11y.pyatspi.DESKTOP_COORDS)
            frame = win.queryComponent().getExtents(a11y.pyatspi.DESKTOP_COORDS)
        except Exception:
            continue
        centre_x = box.x + box.width / 2 - frame.x
        centre_y = box.y + box.height / 2 - frame.y
        top = centre_y < frame.height / 2
        left = centre_x < frame.width / 2
        if top and left:
            return "TL"
        if top:
            return "TR"
        if left:
            return "BL"
    return None


def message_shown(text):
    """True when a window of the desktop, or something in one, is named by this text (the
    result message box carries its text as its name)."""
    for window in a11y.top_windows():
        for accessible in a11y._walk(window):
            try:
                if accessible.name == text:
                    return True
            except Exception:
                continue
    return False


class Session:
    """The installed Controller with its Driver on a live-touched simulated foil."""

    def __init__(self, controller, kvctl, scenario=None, pointer="none", driver_options=()):
        self.kvctl = kvctl
        self.work = tempfile.mkdtemp(prefix="setting-path-")
        self.install = os.path.join(self.work, "install")
        runtime = os.path.join(self.work, "runtime")
        os.makedirs(self.install)
        os.makedirs(runtime, mode=0o700)
        built = os.path.dirname(controller)
        shutil.copy2(controller, os.path.join(self.install, "Controller"))
        shutil.copy2(os.path.join(built, "Driver"), os.path.join(self.install, "Driver"))
        if os.path.isdir(os.path.join(built, "Lang")):
            shutil.copytree(os.path.join(built, "Lang"), os.path.join(self.install, "Lang"))
        with open(os.path.join(self.install, "CONTROLLER.INI"), "wb") as profile:
            profile.write(PROFILE)
        self.pipe = os.path.join(self.work, "foil")
        os.mkfifo(self.pipe)
        # Read and write: opening never waits for the driver, and writes never fail for want
        # of a reader while it starts.
        self.foil = os.open(self.pipe, os.O_RDWR)
        if scenario is None:
            options = ["--driver-option=--simulate=%s" % self.pipe]
        else:
            path = os.path.join(self.work, "foil.scn")
            with open(path, "w") as out:
                out.write(scenario)
            options = [
                "--driver-option=--simulate=%s" % path,
                "--driver-option=--simulate-input=%s" % self.pipe,
            ]
        self.driver_port = free_port()
        env = dict(
            os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(self.work, "config")
        )
        self.log = open(os.path.join(self.work, "controller.log"), "w")
        self.command = [
            os.path.join(self.install, "Controller"),
            "--port=%d" % free_port(),
            "--driver-port=%d" % self.driver_port,
            "--driver-option=--pointer=%s" % pointer,
        ] + options + ["--driver-option=%s" % option for option in driver_options]
        self.env = env
        self.start_controller()
        self.lock = os.path.join(runtime, "KELVARIN_DRIVER.lock")

    def start_controller(self):
        self.process = subprocess.Popen(
            self.command, env=self.env, stdout=self.log, stderr=subprocess.STDOUT
        )

    def restart_controller(self):
        """Ends the Controller as logging out does (SIGTERM) and starts it again; the driver
        it started runs on."""
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)
        self.start_controller()

    def touch(self, line):
        os.write(self.foil, (line + "\n").encode())

    def get(self, record):
        result = subprocess.run(
            [self.kvctl, "get", record, "--port", str(self.driver_port)],
            capture_output=True,
            text=True,
        )
        if result.returncode != 0:
            return None
        return json.loads(result.stdout.splitlines()[0])["fields"]

    def driver_ini(self):
        return read_ini(os.path.join(self.install, "DRIVER.INI"))

    def output(self):
        self.log.flush()
        with open(os.path.join(self.work, "controller.log")) as output:
            return output.read()

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=30)
        if driver_running(self.lock):
            subprocess.run(
                [self.kvctl, "stop", "--port", str(self.driver_port)], capture_output=True
            )
            end = time.monotonic() + DEADLINE_S
            while driver_running(self.lock) and time.monotonic() < end:
                time.sleep(0.2)
        os.close(self.foil)
        self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)


def calibrate_with_finger(session):
    """Presses and holds each target as the dialog shows it, lifting the finger when the
    dialog moves on, until the dialog closes. Returns the corners pressed, in order."""
    a11y.window(DIALOG)
    pressed = []
    end = time.monotonic() + DEADLINE_S
    while a11y.find_window(DIALOG) is not None:
        if time.monotonic() > end:
            raise AssertionError("the dialog stayed open; corners pressed: %s" % pressed)
        corner = hint_corner()
        if corner is None or (pressed and pressed[-1] == corner):
            time.sleep(0.1)
            continue
        if pressed:
            session.touch("up 1")
            time.sleep(0.5)
        pressed.append(corner)
        x, y = PRESS[corner]
        session.touch("down 1 %.3f %.3f" % (x, y))
    session.touch("up 1")
    return pressed


def check_references(session):
    """DRIVER.INI ends up holding the pressed points as the new corner references."""

    def saved():
        ini = session.driver_ini()
        try:
            return all(
                abs(float(ini["Calib_Ref_%s_SA" % corner]) - x) < 0.02
                and abs(float(ini["Calib_Ref_%s_SB" % corner]) - y) < 0.02
                for corner, (x, y) in PRESS.items()
            )
        except (KeyError, ValueError):
            return False

    eventually(
        "DRIVER.INI does not hold the pressed points: %s"
        % {k: v for k, v in session.driver_ini().items() if k.startswith("Calib_Ref")},
        saved,
    )
    print(
        "References saved: %s"
        % {k: v for k, v in session.driver_ini().items() if k.startswith("Calib_Ref")}
    )


def run_calibrate(session):
    a11y.control(WINDOW, "page tab", "Setting")
    a11y.select_tab(WINDOW, "Setting")
    # The baseline settles before the first touch.
    eventually("the driver never answered", lambda: session.get("Sense/Status") is not None)
    time.sleep(4)
    a11y.press(WINDOW, "push button", "Calibration")
    pressed = calibrate_with_finger(session)
    assert pressed == ["TL", "TR", "BL"], "targets shown in the order %s" % pressed
    check_references(session)


def run_adaption(session):
    a11y.control(WINDOW, "page tab", "Setting")
    a11y.select_tab(WINDOW, "Setting")
    eventually("the driver never answered", lambda: session.get("Sense/Status") is not None)
    output = session.get("Output/State")
    assert output is not None and not output["Enable"], "output on before the run: %s" % output
    time.sleep(4)
    a11y.press(WINDOW, "push button", "Auto")
    # While the search runs its progress window is up, the window keeps answering and the
    # page's controls are off.
    a11y.wait_for("the progress window", lambda: a11y.showing(PROGRESS_NOTE))
    for name in ("Auto", "Manual", "Calibration"):
        button = a11y.control(WINDOW, "push button", name)
        assert not button.getState().contains(
            a11y.pyatspi.STATE_ENABLED
        ), "%r stays enabled during the adaption" % name
    # The search takes a second or more per attempt, then opens the calibration dialog.
    a11y.wait_for("the calibration dialog after the search", lambda: a11y.find_window(DIALOG),
                  deadline_s=DEADLINE_S)
    pressed = calibrate_with_finger(session)
    assert pressed == ["TL", "TR", "BL"], "targets shown in the order %s" % pressed

    def enabled():
        state = session.get("Output/State")
        return state is not None and state["Enable"]

    eventually("touch output is still off after the adaption", enabled)
    a11y.wait_for("the success message", lambda: message_shown("Successfully adaption!"))
    sense = session.get("Sense/State")
    assert sense["PressThreshold"] == 5, sense
    assert 5 <= sense["CoarseRange"] <= 15, sense
    print("Adaption ended at sensitivity %d" % sense["CoarseRange"])
    check_references(session)


def key_to_window(title, key):
    """A real key press, as the user makes it, in the window with this title."""
    found = subprocess.run(
        ["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
        capture_output=True,
        text=True,
    ).stdout.split()
    assert found, "no X window titled %r on the screen" % title
    # No window manager here: the focus is given straight, then the key goes where it is.
    subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], check=True)
    subprocess.run(["xdotool", "key", key], check=True)


def run_cancel(session):
    a11y.control(WINDOW, "page tab", "Setting")
    a11y.select_tab(WINDOW, "Setting")
    eventually("the driver never answered", lambda: session.get("Sense/Status") is not None)
    # Values of the user's own, set by hand as a screen reader sets a slider.
    a11y.press(WINDOW, "push button", "Manual")
    for name, value in (("Sensitivity", 20), ("Threshold", 12)):
        a11y.control(WINDOW, "slider", name).queryValue().currentValue = value

    def sense():
        state = session.get("Sense/State") or {}
        return state.get("CoarseRange"), state.get("PressThreshold")

    eventually("the sliders never reached the driver: %s" % (sense(),), lambda: sense() == (20, 12))
    time.sleep(4)
    a11y.press(WINDOW, "push button", "Auto")
    a11y.wait_for("the progress window", lambda: a11y.showing(PROGRESS_NOTE))
    eventually("the search never sent its first sensitivity", lambda: sense() == (8, 5))
    time.sleep(1.5)  # within the first attempt's samples
    key_to_window(PROGRESS_NOTE, "Escape")
    eventually("the progress window stays", lambda: not a11y.showing(PROGRESS_NOTE))
    # Every step of the search that would have come is past.
    time.sleep(4)
    assert session.process.poll() is None, "the Controller ended: %s" % session.process.poll()
    button = a11y.control(WINDOW, "push button", "Auto")
    assert button.getState().contains(a11y.pyatspi.STATE_ENABLED), "Auto stays off"
    assert sense() == (20, 12), "the driver kept the search's values: %s" % (sense(),)
    assert not a11y.showing("Successfully adaption!"), "a cancelled search reported success"


def run_session(session, run):
    """Runs one way through the window on the session, which is closed afterwards: prints PASS
    and returns 0, or prints FAIL with the Controller's output and returns 1."""
    try:
        a11y.window(WINDOW)
        run(session)
        print("PASS")
        return 0
    except AssertionError as error:
        print("FAIL: %s" % error)
        print("Controller output:\n" + session.output())
        return 1
    finally:
        session.close()


def main():
    mode, controller, kvctl = sys.argv[1], sys.argv[2], sys.argv[3]
    runs = {"calibrate": run_calibrate, "adaption": run_adaption, "cancel": run_cancel}
    if mode not in runs:
        print("FAIL: unknown mode %r" % mode)
        return 1
    scenario = ADAPTION_SCENARIO if mode in ("adaption", "cancel") else None
    return run_session(Session(controller, kvctl, scenario), runs[mode])


if __name__ == "__main__":
    sys.exit(main())
