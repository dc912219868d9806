"""The demo without a display (`kvctl monitor` in the terminal): however the demo script ends,
its driver ends with it and nothing of the demo keeps running.
    terminal_test.py RUN_DEMO DRIVER KVCTL [CONTROLLER]
  pipe:   `run-demo | head -n 3` ends by itself once head has gone, and stops the driver
  SIGHUP: a closed terminal ends the script, which stops the driver
  SIGKILL: the script killed outright; the driver and the monitor end on their own
  Ctrl-C: SIGINT to the script's process group ends the demo normally (status 0)
  another Driver running: monitored and left running, or named when it is on another port"""

import os
import signal
import subprocess
import sys

# No bytecode folders beside the sources.
sys.dont_write_bytecode = True

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from demo_support import DEADLINE_S, DemoTree, eventually, free_port  # noqa: E402


def demo_driver_up(tree):
    """Waits until the demo's driver answers on its port; its pid."""
    eventually("the demo driver answers on its port", tree.answers)
    drivers = tree.drivers()
    assert len(drivers) == 1, "one demo driver, not %s" % drivers
    return drivers[0]


def through_pipe(tree):
    pipeline = subprocess.run(
        ["bash", "-c", 'set -o pipefail; "$0" "$1" | head -n 3', tree.script, tree.build],
        env=tree.environment(),
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=DEADLINE_S,
    )
    lines = pipeline.stdout.splitlines()
    assert len(lines) == 3 and lines[0].startswith("run-demo: "), pipeline.stdout
    # The driver was started and stopped the proper way, reported where it can still be read.
    assert "driver stopped" in pipeline.stderr, pipeline.stderr
    tree.assert_all_gone("after the pipe closed")


def ended_by(tree, signum, group=False):
    output = os.path.join(tree.root, "demo-%d.txt" % signum)
    with open(output, "w") as sink:
        script = tree.start(stdout=sink, stderr=subprocess.STDOUT)
    try:
        driver = demo_driver_up(tree)
    except AssertionError:
        with open(output) as f:
            print(f.read()[-3000:])
        raise
    monitors = [pid for pid, exe in tree.programs().items() if exe.endswith("/kvctl")]
    assert monitors, "no kvctl monitor runs"
    if group:
        os.killpg(script.pid, signum)
    else:
        os.kill(script.pid, signum)
    try:
        status = script.wait(timeout=DEADLINE_S)
    except subprocess.TimeoutExpired:
        raise AssertionError("the demo script did not end on signal %d" % signum)
    if group:
        assert status == 0, "Ctrl-C is the ordinary end of the demo, not status %d" % status
    tree.assert_all_gone("after signal %d to the script" % signum)
    with open(output) as f:
        text = f.read()
    if signum != signal.SIGKILL:
        assert "driver stopped" in text, text
    assert driver not in tree.drivers()


def read(path):
    with open(path) as f:
        return f.read()


def holds_lock(pid):
    """Whether the process holds a flock (a Driver's only one is its single-instance lock)."""
    with open("/proc/locks") as locks:
        return any(
            fields[1] == "FLOCK" and fields[4] == str(pid)
            for fields in (line.split() for line in locks)
            if len(fields) > 4
        )


def beside_foreign_driver(tree):
    """A Driver that is not the demo's holds the lock: on the demo's port it is monitored and
    left running; on another port the demo says so and ends."""
    elsewhere = free_port()
    for port in (tree.port, elsewhere):
        other = subprocess.Popen(
            [
                os.path.join(tree.build, "driver/app/Driver"),
                "--simulate",
                "--port=%d" % port,
                "--pointer=none",
            ],
            env=tree.environment(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        try:
            eventually("the other driver holds its lock", lambda: holds_lock(other.pid))
            output = os.path.join(tree.root, "beside-%d.txt" % port)
            with open(output, "w") as sink:
                script = tree.start(stdout=sink, stderr=subprocess.STDOUT)
            if port == tree.port:
                eventually(
                    "the demo monitors the other driver", lambda: "driver answering" in read(output)
                )
                os.kill(script.pid, signal.SIGTERM)
            status = script.wait(timeout=DEADLINE_S)
            text = read(output)
            assert "another Driver is already running" in text, text
            assert "stopping the driver" not in text, text
            if port == elsewhere:
                assert status == 1 and "does not answer on port" in text, text
            assert other.poll() is None and tree.drivers() == [other.pid], text
        finally:
            other.terminate()
            other.wait()


def main():
    script, driver, kvctl = sys.argv[1:4]
    controller = sys.argv[4] if len(sys.argv) > 4 else None
    with DemoTree(script, driver, kvctl, controller) as tree:
        through_pipe(tree)
    for signum in (signal.SIGHUP, signal.SIGTERM, signal.SIGKILL):
        with DemoTree(script, driver, kvctl, controller) as tree:
            ended_by(tree, signum)
    with DemoTree(script, driver, kvctl, controller) as tree:
        beside_foreign_driver(tree)
    # Ctrl-C in the terminal: SIGINT to the whole foreground group, the monitor included.
    with DemoTree(script, driver, kvctl, controller) as tree:
        ended_by(tree, signal.SIGINT, group=True)
    print(
        "terminal demo: ends with its driver through a closed pipe, SIGHUP, SIGTERM, SIGKILL"
        " and Ctrl-C; leaves another Driver running"
    )


if __name__ == "__main__":
    main()
