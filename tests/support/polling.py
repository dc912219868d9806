"""What the Python tests share however they drive the programs: free loopback ports and
waiting, by polling, for something to come true."""

import socket
import time

DEADLINE_S = 60.0


# A free UDP port on the loopback, for a Controller or Driver of a test.
def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, probe, deadline_s=DEADLINE_S):
    """Polls probe() until it returns something true and returns that; fails loudly after the
    deadline."""
    end = time.monotonic() + deadline_s
    while True:
        found = probe()
        if found:
            return found
        if time.monotonic() > end:
            raise AssertionError("not found within %.0f s: %s" % (deadline_s, what))
        time.sleep(0.2)
