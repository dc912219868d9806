"""What the demo tests share: a private copy of the build's programs laid out as the demo script
expects them, free ports, a private runtime folder (so that the single-instance locks of
parallel tests never meet), and a look at which of the copied programs still run."""

import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

# The shared helpers of the Python tests; no bytecode beside the sources.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from polling import DEADLINE_S, free_port  # noqa: E402,F401
from polling import wait_for as eventually  # noqa: E402


class DemoTree:
    """A temporary build folder: controller/{Controller,Driver,Lang/}, driver/app/Driver and
    tools/kvctl/kvctl copied from the real build, so that the INI files the programs write land
    here. Use as a context manager; everything it started and created goes at the end."""

    def __init__(self, script, driver, kvctl, controller=None):
        self.script = script
        self.root = tempfile.mkdtemp(prefix="kv-demo-")
        self.build = os.path.join(self.root, "build")
        self.runtime = os.path.join(self.root, "run")
        os.mkdir(self.runtime, 0o700)
        self.kvctl = self._copy(kvctl, "tools/kvctl/kvctl")
        self._copy(driver, "driver/app/Driver")
        self.controller = None
        self.controller_driver = None
        if controller is not None:
            self.controller = self._copy(controller, "controller/Controller")
            folder = os.path.dirname(controller)
            self.controller_driver = self._copy(
                os.path.join(folder, "Driver"), "controller/Driver"
            )
            shutil.copytree(
                os.path.join(folder, "Lang"), os.path.join(self.build, "controller/Lang")
            )
        self.port = free_port()
        self.controller_port = free_port()
        while self.controller_port == self.port:
            self.controller_port = free_port()
        self.scripts = []

    def _copy(self, source, relative):
        target = os.path.join(self.build, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
        os.chmod(target, os.stat(target).st_mode | stat.S_IXUSR)
        return target

    def environment(self, display=None):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        if display is not None:
            env.update(display)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["KV_PORT"] = str(self.port)
        env["KV_CONTROLLER_PORT"] = str(self.controller_port)
        return env

    def start(self, display=None, **popen):
        """The demo script on this tree, in a process group of its own."""
        process = subprocess.Popen(
            [self.script, self.build],
            env=self.environment(display),
            stdin=subprocess.DEVNULL,
            start_new_session=True,
            # SIGINT at its default, as a terminal's Ctrl-C finds it, even under a runner that
            # ignores it (nohup, `cmd &`): a shell cannot trap a signal ignored at its start.
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
            **popen,
        )
        self.scripts.append(process)
        return process

    def programs(self):
        """pid -> path of every running process started from a program of this tree."""
        found = {}
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % entry)
                if os.path.basename(exe).startswith("qemu-"):
                    # A program run by qemu-user (binfmt): its own path is the emulator's
                    # first argument.
                    with open("/proc/%s/cmdline" % entry, "rb") as f:
                        words = f.read().split(b"\0")
                    exe = words[1].decode() if len(words) > 1 else exe
            except OSError:
                continue
            if exe.startswith(self.build + "/"):
                found[int(entry)] = exe
        return found

    def drivers(self):
        return sorted(pid for pid, exe in self.programs().items() if exe.endswith("/Driver"))

    def answers(self):
        """Whether a driver answers on the demo's port."""
        return (
            subprocess.run(
                [self.kvctl, "status", "--port", str(self.port), "--timeout", "3"],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            ).returncode
            == 0
        )

    def assert_all_gone(self, what):
        """No program of this tree runs any more, and nothing answers on the demo's port."""
        try:
            eventually("programs of the demo end", lambda: not self.programs())
        except AssertionError:
            raise AssertionError("%s: programs of the demo still run: %s" % (what, self.programs()))
        assert not self.answers(), what + ": a driver still answers on the demo's port"

    def __enter__(self):
        return self

    def __exit__(self, *_):
        for process in self.scripts:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        for pid in self.programs():
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        shutil.rmtree(self.root, ignore_errors=True)


def cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return [a.decode() for a in f.read().split(b"\0") if a]
    except OSError:
        return []
