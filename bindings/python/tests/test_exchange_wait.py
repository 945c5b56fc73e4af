"""An exchange that does not end: Ctrl-C and the timeout reach the caller,
and the call, left to end in the background, still releases its answer."""
import os
import signal
import subprocess
import sys
import threading
import time

import dvkc
import pytest


def exchange_threads():
    return [t for t in threading.enumerate() if t.name == "dvkc-exchange"]


def test_timeout_leaves_the_call_to_end_and_release_its_answer(relay, service, freed):
    start = time.monotonic()
    with pytest.raises(TimeoutError, match=f"to 127.0.0.1:{relay.port} gave no answer within 0.3 s"):
        dvkc.exchange("127.0.0.1", relay.port, service[1], "/dvk", b"x", timeout=0.3)
    assert time.monotonic() - start < 20
    assert relay.accepted.is_set() and exchange_threads() and freed == []

    relay.release()  # the service now answers the call left running
    deadline = time.monotonic() + 60
    while exchange_threads() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not exchange_threads()
    assert len(freed) == 1 and freed[0]  # the answer, given back


def test_an_answer_within_the_time_is_returned(relay, service):
    relay.release()
    answer = dvkc.exchange("127.0.0.1", relay.port, service[1], "/dvk", b"x", timeout=60)
    assert answer.startswith(b"HTTP/1.")


@pytest.mark.parametrize("timeout", [0, -1, float("nan"), float("inf")])
def test_a_timeout_is_a_positive_number_of_seconds(timeout):
    with pytest.raises(ValueError, match="^dvkc: timeout: "):
        dvkc.exchange("127.0.0.1", 9, "trust.pem", "/", b"x", timeout=timeout)


CALLER = """
import sys, time, dvkc
port, trust = int(sys.argv[1]), sys.argv[2]
start = time.monotonic()
try:
    dvkc.exchange("127.0.0.1", port, trust, "/dvk", b"x")
except KeyboardInterrupt:
    print(f"KeyboardInterrupt after {time.monotonic() - start:.1f} s", flush=True)
    sys.exit(3)
print("returned", flush=True)
"""


def test_ctrl_c_interrupts_the_caller(relay, service):
    caller = subprocess.Popen(
        [sys.executable, "-c", CALLER, str(relay.port), str(service[1])], stdout=subprocess.PIPE, text=True
    )
    try:
        assert relay.accepted.wait(30), "the exchange did not connect"
        time.sleep(0.2)  # the call now waits for the handshake's answer
        caller.send_signal(signal.SIGINT)
        out, _ = caller.communicate(timeout=30)
    finally:
        if caller.poll() is None:
            caller.kill()
            caller.wait()
    assert caller.returncode == 3, out
    assert out.startswith("KeyboardInterrupt after ")
