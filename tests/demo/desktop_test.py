"""The demo with a display: the Controller comes up on the demo driver, and ending the Controller
ends the demo with its driver. Runs under tests/controller/a11y/with-desktop:
    with-desktop /usr/bin/python3 desktop_test.py RUN_DEMO DRIVER KVCTL CONTROLLER
  settled: CONTROLLER.INI past its first run; the Controller ended with SIGTERM
  first run: no CONTROLLER.INI; the first-run dialog, once accepted, stops the demo driver and
      the Controller starts a new one, which is still the demo (simulated board, --stop-with
      the script); Quit then ends the demo and that driver too
  first run alone: the Controller on its own, starting its own driver
Both first runs are taken as a new user takes them: on a busy machine (stress-ng on every
core) and after reading the dialog for a while; the model must end up in DRIVER.INI and the
first-run questions must count as answered.
  KV_FIRST_RUN_WAIT_S  seconds at the dialog before OK (default 30)
  KV_FIRST_RUN_REPEAT  how many times each first run is taken (default 1)"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import time

# No bytecode folders beside the sources.
sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "controller", "a11y"))
import controller_a11y as a11y  # noqa: E402
from demo_support import DEADLINE_S, DemoTree, cmdline, eventually  # noqa: E402

WINDOW = "Kelvarin Vyren - Controller"
FIRST_RUN = "Initial Setting for first running..."
# The default model S64 as the driver saves it.
S64_LINES = ("Split_State_Split0=20", "Split_State_Split1=24", "Split_State_Flip2=1",
             "Comms_ReqState_MuxSize=64")
PR_SET_PDEATHSIG = 1
WAIT_S = float(os.environ.get("KV_FIRST_RUN_WAIT_S", "30"))
REPEAT = int(os.environ.get("KV_FIRST_RUN_REPEAT", "1"))
SETTLED = b"[GENERAL]\r\nFIRST=0\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\nCONTROLLER=0\r\n"


def on_display():
    return {"DISPLAY": os.environ["DISPLAY"]}


def start(tree):
    output = open(os.path.join(tree.root, "demo.txt"), "w")
    script = tree.start(display=on_display(), stdout=output, stderr=subprocess.STDOUT)
    output.close()
    return script


def output_of(tree):
    with open(os.path.join(tree.root, "demo.txt")) as f:
        return f.read()


def controller_pid(tree):
    found = [pid for pid, exe in tree.programs().items() if exe.endswith("/Controller")]
    return found[0] if len(found) == 1 else None


def ends(tree, script, what):
    try:
        status = script.wait(timeout=DEADLINE_S)
    except subprocess.TimeoutExpired:
        raise AssertionError("the demo script did not end after " + what)
    text = output_of(tree)
    assert status == 0, "exit status %d after %s:\n%s" % (status, what, text)
    assert "driver stopped" in text, text
    tree.assert_all_gone(what)


def settled(tree):
    with open(os.path.join(tree.build, "controller", "CONTROLLER.INI"), "wb") as f:
        f.write(SETTLED)
    script = start(tree)
    a11y.window(WINDOW)
    eventually("the demo driver answers", tree.answers)
    pid = eventually("the Controller runs", lambda: controller_pid(tree))
    os.kill(pid, signal.SIGTERM)
    ends(tree, script, "SIGTERM to the Controller")


class Busy:
    """Every core kept busy while it is in force, as on a machine doing other work."""

    def __enter__(self):
        stress = shutil.which("stress-ng")
        assert stress, "stress-ng is not installed (scripts/install-deps installs it)"
        # Ended with this test however it ends: by its parent's death, and at the latest by
        # its own time-out.
        self.process = subprocess.Popen(
            [stress, "--cpu", str(os.cpu_count() or 2), "--timeout", "900", "--quiet"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            preexec_fn=lambda: ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM),
        )
        return self

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait()


def failure_box():
    """The text of the first run's failure message, when it is shown."""
    for window in a11y.top_windows():
        for accessible in a11y._walk(window):
            try:
                if "did not confirm the sensor model" in (accessible.name or ""):
                    return accessible.name
            except Exception:  # the object went away while we looked
                continue
    return None


def answer_first_run(tree):
    """Reads the dialog for WAIT_S, takes the default model with OK, and waits for the main
    window; the model must be in the driver's settings file and the questions answered."""
    a11y.window(FIRST_RUN)
    time.sleep(WAIT_S)
    a11y.press(FIRST_RUN, "push button", "OK")
    outcome = eventually(
        "the main window or the failure message after OK",
        lambda: failure_box() or ("shown" if a11y.showing(WINDOW) else None),
    )
    assert outcome == "shown", outcome
    folder = os.path.join(tree.build, "controller")
    with open(os.path.join(folder, "CONTROLLER.INI"), "rb") as f:
        assert b"FIRST=0\r\n" in f.read(), "the first run does not count as answered"
    with open(os.path.join(folder, "DRIVER.INI")) as f:
        saved = f.read().splitlines()
    missing = [line for line in S64_LINES if line not in saved]
    assert not missing, "DRIVER.INI lacks %s" % missing


def first_run(tree):
    script = start(tree)
    a11y.window(FIRST_RUN)
    eventually("the demo driver answers", tree.answers)
    first = tree.drivers()
    assert len(first) == 1, "one demo driver, not %s" % first

    answer_first_run(tree)

    def restarted():
        now = [pid for pid in tree.drivers() if pid not in first]
        return now[0] if len(now) == 1 and first[0] not in tree.drivers() else None

    driver = eventually("a new driver once the first-run dialog is accepted", restarted)
    eventually("the new driver answers", tree.answers)
    arguments = cmdline(driver)
    for wanted in ("--simulate=demo", "--pointer=auto", "--stop-with=%d" % script.pid):
        assert wanted in arguments, "%s not in %s" % (wanted, arguments)
    a11y.press(WINDOW, "push button", "Quit")
    ends(tree, script, "Quit")


def first_run_alone(tree):
    """No driver runs: the Controller starts its own, and after the first run its successor."""
    log = open(os.path.join(tree.root, "demo.txt"), "w")
    controller = subprocess.Popen(
        [
            tree.controller,
            "--port=%d" % tree.controller_port,
            "--driver-port=%d" % tree.port,
            "--driver-option=--simulate=demo",
            "--driver-option=--pointer=none",
        ],
        env=tree.environment(on_display()),
        stdout=log,
        stderr=subprocess.STDOUT,
        start_new_session=True,
    )
    tree.scripts.append(controller)
    log.close()
    answer_first_run(tree)
    eventually("the restarted driver answers", tree.answers)
    a11y.press(WINDOW, "push button", "Quit")
    assert controller.wait(timeout=DEADLINE_S) == 0, "the Controller's exit status"
    # Quit leaves the driver running, as it does for a user.
    subprocess.run([tree.kvctl, "stop", "--port", str(tree.port)], capture_output=True)
    tree.assert_all_gone("kvctl stop after Quit")


def main():
    script, driver, kvctl, controller = sys.argv[1:5]
    cases = [(settled, False)] + [(first_run, True), (first_run_alone, True)] * REPEAT
    # Each first run is counted, so that a repeated run gives figures; any failure fails.
    passed = {first_run.__name__: 0, first_run_alone.__name__: 0}
    failures = []
    for case, busy in cases:
        with DemoTree(script, driver, kvctl, controller) as tree:
            try:
                if not busy:
                    case(tree)
                    continue
                with Busy():
                    case(tree)
                passed[case.__name__] += 1
                print("%s: passed" % case.__name__, flush=True)
            except AssertionError as error:
                print(output_of(tree)[-3000:])
                if not busy:
                    raise
                failures.append("%s: %s" % (case.__name__, error))
                print(failures[-1], flush=True)
    for name, count in passed.items():
        print("%s: %d of %d passed, %.0f s at the dialog, every core busy"
              % (name, count, REPEAT, WAIT_S))
    assert not failures, "\n".join(failures)
    print("desktop demo: the Controller on the demo driver; ending it ends the demo")


if __name__ == "__main__":
    main()
