"""The demo with a display: the Controller comes up on the demo driver, and ending the Controller
ends the demo with its driver. Runs under tests/controller/a11y/with-desktop:
    with-desktop /usr/bin/python3 desktop_test.py RUN_DEMO DRIVER KVCTL CONTROLLER
  settled: CONTROLLER.INI past its first run; the Controller ended with SIGTERM
  first run: no CONTROLLER.INI; the first-run dialog, once accepted, stops the demo driver and
      the Controller starts a new one, which is still the demo (simulated board, --stop-with
      the script); Quit then ends the demo and that driver too"""

import os
import signal
import subprocess
import sys

# No bytecode folders beside the sources.
sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "controller", "a11y"))
import controller_a11y as a11y  # noqa: E402
from demo_support import DEADLINE_S, DemoTree, cmdline, eventually  # noqa: E402

WINDOW = "Kelvarin Vyren - Controller"
FIRST_RUN = "Initial Setting for first running..."
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


def first_run(tree):
    script = start(tree)
    a11y.window(FIRST_RUN)
    eventually("the demo driver answers", tree.answers)
    first = tree.drivers()
    assert len(first) == 1, "one demo driver, not %s" % first
    a11y.press(FIRST_RUN, "push button", "OK")

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


def main():
    script, driver, kvctl, controller = sys.argv[1:5]
    for case in (settled, first_run):
        with DemoTree(script, driver, kvctl, controller) as tree:
            try:
                case(tree)
            except AssertionError:
                print(output_of(tree)[-3000:])
                raise
    print("desktop demo: the Controller on the demo driver; ending it ends the demo")


if __name__ == "__main__":
    main()
