"""The Advanced page end to end: the real Controller with its Driver on a simulated foil, the
window driven through the accessibility bus. Runs under with-desktop:
    with-desktop /usr/bin/python3 advanced_path_test.py driver|reset|cancel|tuio CONTROLLER KVCTL

driver: "Stop driver", confirmed, ends the driver process; the About page then says the
    driver is not loaded, the Setting page says no driver answers and "Auto" says so at once;
    "Start driver" starts a new one, which answers and is shown as loaded again.
reset: a driver whose DRIVER.INI holds a changed threshold and a B64 layout is reset by
    "Factory Reset", confirmed; the first-run questions are confirmed with the S64 entry, and
    the driver runs on again with the default threshold and the S64 layout.
cancel: "Factory Reset" confirmed, then its progress window closed with Escape while the
    driver is being stopped: that driver ends, the Controller lives on, and a new driver runs
    and answers.
tuio: the "TUIO" touch mode radio makes two fingers on the foil arrive as TUIO cursors at a
    listener (on a free port handed to the driver with --tuio instead of 3333, so that runs
    side by side do not meet)."""

import os
import socket
import subprocess
import sys
import time

# The shared session comes from the Setting page's test; no bytecode beside the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import controller_a11y as a11y  # noqa: E402
from setting_path_test import (  # noqa: E402
    DEADLINE_S,
    WINDOW,
    Session,
    driver_running,
    eventually,
    key_to_window,
    message_shown,
    run_session,
)

FIRST_RUN = "Initial Setting for first running..."
RESET_PROGRESS = "Factory Reset progress"
TUIO_RADIO = "TUIO - MT2 ( Port: 3333 )"


def kvctl_set(session, record, *fields):
    subprocess.run(
        [session.kvctl, "set", record, *fields, "--save", "--port", str(session.driver_port)],
        check=True,
        capture_output=True,
    )


def answers(session):
    return session.get("Sense/State") is not None


def open_page(session):
    a11y.select_tab(WINDOW, "Advanced")
    eventually("the driver never answered", lambda: answers(session))


def about_says(text):
    a11y.select_tab(WINDOW, "About")
    eventually(
        "the About page never said %r: %r" % (text, a11y.text_of(WINDOW, "About")),
        lambda: text in a11y.text_of(WINDOW, "About"),
    )


def run_driver(session):
    open_page(session)
    eventually("no driver holds its lock", lambda: driver_running(session.lock))
    about_says("Load driver: Successfully!")
    a11y.select_tab(WINDOW, "Advanced")
    a11y.press(WINDOW, "push button", "Stop driver")
    # It asks first: a touch-only kiosk would lose its only input.
    a11y.press("Stop driver", "push button", "Yes")
    eventually("the driver still runs after Stop driver",
               lambda: not driver_running(session.lock))
    # What was heard decides, not the last values received.
    about_says("Load driver: Failure!")
    a11y.select_tab(WINDOW, "Setting")
    a11y.control(WINDOW, "label", "No driver answering")
    a11y.press(WINDOW, "push button", "Auto")
    said = "No driver answering: start the driver on the Advanced page."
    a11y.wait_for("no message that the driver does not answer", lambda: message_shown(said),
                  deadline_s=5)
    assert not a11y.showing("Note: Do not touch the Touch Panel"), "the search began"
    a11y.press(said, "push button", "OK")
    a11y.select_tab(WINDOW, "Advanced")
    a11y.press(WINDOW, "push button", "Start driver")
    eventually("no driver after Start driver", lambda: driver_running(session.lock))
    eventually("the new driver does not answer", lambda: answers(session))
    about_says("Load driver: Successfully!")


def run_reset(session):
    open_page(session)
    default_threshold = session.get("Sense/State")["PressThreshold"]
    changed = default_threshold + 3
    kvctl_set(session, "Sense/State", "PressThreshold=%d" % changed)
    kvctl_set(session, "Split/State", "Split0=12", "Split1=40")
    eventually(
        "DRIVER.INI never held the changed threshold",
        lambda: session.driver_ini().get("Sense_State_PressThreshold") == str(changed),
    )
    a11y.press(WINDOW, "push button", "Factory Reset")
    a11y.press("Factory Reset", "push button", "Yes")
    a11y.wait_for("the progress window", lambda: a11y.showing(RESET_PROGRESS))
    # The window keeps answering while the reset runs.
    a11y.control(WINDOW, "push button", "Stop driver")
    a11y.window(FIRST_RUN)
    a11y.press(FIRST_RUN, "push button", "OK")
    eventually("the progress window stays", lambda: not a11y.showing(RESET_PROGRESS))
    eventually("no driver after the reset", lambda: driver_running(session.lock))

    def reset_state():
        sense = session.get("Sense/State")
        split = session.get("Split/State")
        return (
            sense is not None
            and split is not None
            and sense["PressThreshold"] == default_threshold
            and split["Split0"] == 20
            and split["Split1"] == 24
        )

    eventually(
        "the driver did not come back on default settings and S64: %s %s"
        % (session.get("Sense/State"), session.get("Split/State")),
        reset_state,
    )


def lock_holders(lock):
    """The processes holding the driver's lock, from /proc/locks: under qemu-user a process's
    executable is the emulator, so the lock, not the program's path, says which is the driver."""
    try:
        st = os.stat(lock)
    except FileNotFoundError:
        return set()
    file_id = "%02x:%02x:%d" % (os.major(st.st_dev), os.minor(st.st_dev), st.st_ino)
    pids = set()
    with open("/proc/locks") as locks:
        for line in locks:
            fields = line.split()
            if len(fields) >= 6 and fields[1] == "FLOCK" and fields[5] == file_id:
                pids.add(int(fields[4]))
    return pids


def alive(pid):
    """Whether a process runs (an ended one that is not reaped yet does not)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except (OSError, IndexError):
        return False


def run_cancel(session):
    open_page(session)
    eventually("no driver holds its lock", lambda: driver_running(session.lock))
    stopped = lock_holders(session.lock)
    assert stopped, "no process holds the driver's lock"
    a11y.press(WINDOW, "push button", "Factory Reset")
    a11y.press("Factory Reset", "push button", "Yes")
    a11y.wait_for("the progress window", lambda: a11y.showing(RESET_PROGRESS))
    # At once: the reset gives the driver it stopped a second at least to end. Once it has
    # ended, the next driver starts within a fraction of a second, a gap that polling the lock
    # from here misses on a busy machine.
    key_to_window(RESET_PROGRESS, "Escape")
    eventually("the progress window stays", lambda: not a11y.showing(RESET_PROGRESS))
    eventually("the reset never stopped the driver", lambda: not any(alive(pid) for pid in stopped))
    eventually("the driver was left stopped", lambda: driver_running(session.lock))
    eventually("the driver does not answer", lambda: answers(session))
    time.sleep(2)  # the steps the reset would have taken are past
    assert session.process.poll() is None, "the Controller ended"
    assert not a11y.showing(FIRST_RUN), "the cancelled reset asked the first-run questions"
    button = a11y.control(WINDOW, "push button", "Factory Reset")
    assert button.getState().contains(a11y.pyatspi.STATE_ENABLED), "Factory Reset stays off"


def tuio_cursors(packet):
    """The number of "set" messages for TUIO 2D cursors in a datagram (a bundle or a message);
    OSC strings are padded with zeros to four bytes, so "set" is exactly b"set\\0"."""
    if b"/tuio/2Dcur\x00" not in packet:
        return 0
    return packet.count(b"set\x00")


def run_tuio(session):
    listener = session.tuio
    try:
        open_page(session)
        a11y.press(WINDOW, "radio button", TUIO_RADIO)
        eventually("the driver did not take the TUIO mode",
                   lambda: (session.get("Output/State") or {}).get("Selection") == 2)
        kvctl_set(session, "Output/State", "Enable=1")
        time.sleep(4)  # the baseline settles before the touch
        session.touch("down 1 0.30 0.40")
        session.touch("down 2 0.70 0.60")
        end = time.monotonic() + DEADLINE_S
        seen = 0
        while seen < 2 and time.monotonic() < end:
            try:
                seen = max(seen, tuio_cursors(listener.recv(65536)))
            except socket.timeout:
                continue
        session.touch("up 2")
        session.touch("up 1")
        assert seen >= 2, "TUIO cursor sets seen: %d" % seen
    finally:
        listener.close()


def main():
    mode, controller, kvctl = sys.argv[1], sys.argv[2], sys.argv[3]
    runs = {"driver": run_driver, "reset": run_reset, "cancel": run_cancel, "tuio": run_tuio}
    if mode not in runs:
        print("FAIL: unknown mode %r" % mode)
        return 1
    tuio = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    tuio.bind(("127.0.0.1", 0))
    tuio.settimeout(0.5)
    session = Session(
        controller, kvctl, driver_options=["--tuio=127.0.0.1:%d" % tuio.getsockname()[1]]
    )
    session.tuio = tuio
    return run_session(session, runs[mode])


if __name__ == "__main__":
    sys.exit(main())
