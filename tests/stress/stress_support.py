"""What the long-run scripts (crash-save, soak) share: a private copy of the Driver with its
own settings and runtime folders, free UDP ports, the record frames a Controller-role peer
sends (taken from `kvctl encode`, so the bytes are the record library's own), and children
that end with the script however it ends."""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PR_SET_PDEATHSIG = 1


def fail(script, message):
    print(f"{script}: {message}", file=sys.stderr)
    sys.exit(1)


def free_udp_port(avoid=()):
    """A UDP port nothing listens on now (the kernel's pick), other than those in avoid."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        if port not in avoid:
            return port


def port_from_environment(name, avoid=()):
    value = os.environ.get(name, "")
    return int(value) if value else free_udp_port(avoid)


def die_with_parent():
    # The child gets SIGKILL when the script ends, even when the script itself is killed.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def encode(kvctl, *words):
    out = subprocess.run([kvctl, "encode", *words], check=True, capture_output=True, text=True)
    return bytes.fromhex(out.stdout.strip())


class Frames:
    """Record frames as the Controller sends them, with fields filled in per call."""

    def __init__(self, kvctl):
        self.hello = encode(kvctl, "hello")
        # Distinct marker values show where each field sits in the frame.
        marks = {"Top": 0x11111111, "Left": 0x22222222, "Right": 0x33333333,
                 "Bottom": 0x44444444}
        self._edge = encode(kvctl, "Edge/State", *[f"{k}={v:#x}" for k, v in marks.items()])
        self._edge_at = [self._edge.index(v.to_bytes(4, "little")) for v in marks.values()]
        self._save = encode(kvctl, "Store/DoSave", "--valid", "1", "--seq", "0x55555555")
        self._save_at = self._save.index((0x55555555).to_bytes(4, "little"))

    def edge(self, value):
        """Edge/State with all four fields set to value."""
        frame = bytearray(self._edge)
        for at in self._edge_at:
            frame[at:at + 4] = value.to_bytes(4, "little", signed=True)
        return bytes(frame)

    def save(self, sequence):
        """Store/DoSave raised with this sequence number (the driver acts on each new one)."""
        frame = bytearray(self._save)
        frame[self._save_at:self._save_at + 4] = sequence.to_bytes(4, "little", signed=True)
        return bytes(frame)


class DriverCopy:
    """A copy of the Driver in a temporary folder: its DRIVER.INI lives beside it there, and
    its single-instance lock in a runtime folder of its own, so that no other driver on the
    machine is disturbed or in the way."""

    def __init__(self, driver, port, peer_port):
        self.work = tempfile.mkdtemp(prefix="kv-stress-")
        self.folder = os.path.join(self.work, "install")
        self.runtime = os.path.join(self.work, "runtime")
        os.mkdir(self.folder)
        os.mkdir(self.runtime, 0o700)
        self.program = os.path.join(self.folder, "Driver")
        shutil.copy2(driver, self.program)
        self.settings = os.path.join(self.folder, "DRIVER.INI")
        self.log_path = os.path.join(self.work, "driver.log")
        self.log = open(self.log_path, "ab")
        self.port = port
        self.peer_port = peer_port
        self.process = None

    def start(self, *options):
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen(
            [self.program, f"--port={self.port}", f"--peer-port={self.peer_port}",
             f"--stop-with={os.getpid()}", *options],
            cwd=self.work, env=env, stdin=subprocess.DEVNULL, stdout=self.log,
            stderr=self.log, preexec_fn=die_with_parent)
        return self.process

    def kill(self):
        """SIGKILL, and the process reaped; returns its pid."""
        process, self.process = self.process, None
        if process is None:
            return None
        process.kill()
        process.wait()
        return process.pid

    def stop(self, timeout_s=20):
        """SIGTERM (the driver saves nothing more and ends); SIGKILL if it does not end."""
        process, self.process = self.process, None
        if process is None:
            return None
        process.terminate()
        try:
            return process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return None

    def temporaries(self):
        return sorted(n for n in os.listdir(self.folder) if n.startswith("DRIVER.INI.tmp"))

    def close(self):
        self.kill()
        self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)


class Peer:
    """A Controller-role UDP endpoint: says hello to the driver and reads what it sends."""

    def __init__(self, port):
        self.driver = ("127.0.0.1", port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))

    def send(self, frame):
        try:
            self.sock.sendto(frame, self.driver)
        except OSError:
            pass  # nobody listening yet (ICMP refusal); the driver is starting or gone

    def receive(self, timeout_s):
        """One datagram, or None after timeout_s."""
        self.sock.settimeout(timeout_s)
        try:
            return self.sock.recv(65536)
        except (socket.timeout, ConnectionRefusedError):
            return None

    def drain(self):
        self.sock.setblocking(False)
        try:
            while True:
                self.sock.recv(65536)
        except (BlockingIOError, ConnectionRefusedError):
            pass

    def wait_for_answer(self, hello, timeout_s, alive=lambda: True):
        """Says hello until the driver answers; False when it does not within timeout_s."""
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline and alive():
            self.send(hello)
            if self.receive(0.05) is not None:
                return True
        return False

    def close(self):
        self.sock.close()


def record_address(frame):
    """The record address of a record frame (command 0x10), else None."""
    if len(frame) >= 15 and frame[0] == 0x00 and frame[1] == 0xFF and frame[2] == 0x10:
        return int.from_bytes(frame[11:15], "little", signed=True)
    return None


def install_exit_signals():
    """SIGTERM and SIGHUP end the script through its clean-up, as Ctrl-C does."""
    def leave(signum, _frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, leave)
    signal.signal(signal.SIGHUP, leave)
