"""The Controller driven the way a screen reader user drives it: every control found on the
accessibility bus by its role and name, pressed through its action, the window brought back
from the tray by a click on the tray icon. Runs under with-desktop:
    with-desktop /usr/bin/python3 a11y_test.py CONTROLLER KVCTL"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import controller_a11y as a11y  # noqa: E402
from controller_a11y import driver_running, free_port  # noqa: E402

WINDOW = "Kelvarin Vyren - Controller"
FIRST_RUN = "Initial Setting for first running..."
DEADLINE_S = 90.0


def eventually(what, probe):
    end = time.monotonic() + DEADLINE_S
    while not probe():
        if time.monotonic() > end:
            raise AssertionError(what)
        time.sleep(0.2)


def showing(title):
    win = a11y.find_window(title)
    if win is None:
        return False
    return win.getState().contains(a11y.pyatspi.STATE_SHOWING)


def main():
    controller, kvctl = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="controller-a11y-")
    install = os.path.join(work, "install")
    runtime = os.path.join(work, "runtime")
    os.makedirs(install)
    os.makedirs(runtime, mode=0o700)
    built = os.path.dirname(controller)
    shutil.copy2(controller, os.path.join(install, "Controller"))
    shutil.copy2(os.path.join(built, "Driver"), os.path.join(install, "Driver"))
    if os.path.isdir(os.path.join(built, "Lang")):
        shutil.copytree(os.path.join(built, "Lang"), os.path.join(install, "Lang"))
    driver_port = free_port()
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(work, "config"))
    log = open(os.path.join(work, "controller.log"), "w")
    process = subprocess.Popen(
        [
            os.path.join(install, "Controller"),
            "--port=%d" % free_port(),
            "--driver-port=%d" % driver_port,
            "--driver-option=--simulate=demo",
            "--driver-option=--pointer=none",
        ],
        env=env,
        stdout=log,
        stderr=subprocess.STDOUT,
    )
    lock = os.path.join(runtime, "KELVARIN_DRIVER.lock")
    try:
        # First run: the dialog, confirmed with its preselected entries.
        a11y.control(FIRST_RUN, "combo box", "Driver version")
        a11y.control(FIRST_RUN, "combo box", "Language")
        a11y.press(FIRST_RUN, "push button", "OK")

        # The main window with its tabs and buttons, all found by role and name.
        for tab in ("Setting", "Advanced", "About"):
            a11y.control(WINDOW, "page tab", tab)
        a11y.control(WINDOW, "push button", "Run as Daemon")
        a11y.select_tab(WINDOW, "About")
        text = ""

        def linked():
            nonlocal text
            text = a11y.text_of(WINDOW, "About")
            return "Load driver: Successfully!" in text and "Sampling rate : " in text

        eventually("the About page never said the driver is loaded: %r" % text, linked)
        print("About page:\n" + text)

        # Off to the tray, and back with a click on the tray icon.
        a11y.press(WINDOW, "push button", "Run as Daemon")
        eventually("the window stayed on the screen", lambda: not showing(WINDOW))
        a11y.click_tray()
        eventually("the tray click did not bring the window back", lambda: showing(WINDOW))

        # Quit ends the Controller; the driver keeps running.
        a11y.press(WINDOW, "push button", "Quit")
        status = process.wait(timeout=DEADLINE_S)
        assert status == 0, "Controller exit status %d" % status
        with open(os.path.join(install, "CONTROLLER.INI"), "rb") as profile:
            text = profile.read()
        assert b"FIRST=0\r\n" in text and b"LANG=19\r\n" in text, text
        assert driver_running(lock), "Quit stopped the driver"
        print("PASS")
        return 0
    except AssertionError as error:
        print("FAIL: %s" % error)
        log.flush()
        with open(os.path.join(work, "controller.log")) as output:
            print("Controller output:\n" + output.read())
        return 1
    finally:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=30)
        if driver_running(lock):
            subprocess.run([kvctl, "stop", "--port", str(driver_port)], capture_output=True)
            end = time.monotonic() + DEADLINE_S
            while driver_running(lock) and time.monotonic() < end:
                time.sleep(0.2)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
