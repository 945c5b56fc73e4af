"""The calls that hand out a buffer: envelope() and exchange(), and the
copy-then-vFreeData rule they share with Query.build()."""
from __future__ import annotations

import ctypes
import threading
import time
from ctypes import string_at
from typing import Callable, List, Optional, Union

from . import _native
from ._arguments import Text, int32, port_number, seconds, to_bytes
from ._errors import Error

# How long the caller's thread sleeps at a time while an exchange runs: the
# longest a Ctrl-C meant for it can wait to be seen (a signal delivered to
# another thread does not wake it).
_WAIT_SLICE = 0.1


def call_for_buffer(
    name: str, *args: object, host: Optional[str] = None, port: Optional[int] = None
) -> bytes:
    """Calls the library's `name` with `args` and the two out-parameters; the
    text it returns, copied. The buffer goes back to vFreeData whatever
    happens once the call has returned."""
    library = _native.library()
    length = ctypes.c_int32(0)
    buffer = ctypes.c_void_p()
    try:
        result = int(getattr(library, name)(*args, ctypes.byref(length), ctypes.byref(buffer)))
        if result != 0:
            raise Error(name, result, host=host, port=port)
        return string_at(buffer.value or 0, length.value)
    finally:
        if buffer.value:
            library.vFreeData(buffer.value)


def envelope(document: Text, signature: Text) -> bytes:
    """iMake_DVKRequestPKT: the envelope around `document` and `signature`."""
    doc = to_bytes(document, "document")
    sig = to_bytes(signature, "signature")
    return call_for_buffer(
        "iMake_DVKRequestPKT",
        int32(len(doc), "document length"),
        doc,
        int32(len(sig), "signature length"),
        sig,
    )


def _wait(work: Callable[[], bytes], timeout: Optional[float], what: str) -> bytes:
    """Runs `work` in a thread of its own while this one waits, so that
    Ctrl-C (KeyboardInterrupt) and `timeout` reach the caller; either leaves
    `work` to end in the background, where it releases what it holds."""
    done = threading.Event()
    outcome: List[Union[bytes, BaseException]] = []

    def run() -> None:
        try:
            outcome.append(work())
        except BaseException as error:  # handed to the caller, if still waiting
            outcome.append(error)
        finally:
            done.set()

    threading.Thread(target=run, name="dvkc-exchange", daemon=True).start()
    deadline = None if timeout is None else time.monotonic() + timeout
    while True:
        left = _WAIT_SLICE if deadline is None else min(_WAIT_SLICE, deadline - time.monotonic())
        if done.wait(max(left, 0.0)):
            break
        if deadline is not None and time.monotonic() >= deadline:
            raise TimeoutError(
                f"dvkc: {what} gave no answer within {timeout} s; "
                "the call goes on in the background until the library returns"
            )
    result = outcome[0]
    if isinstance(result, BaseException):
        raise result
    return result


def exchange(
    host: Text, port: int, trust_file: Text, url_path: Text, body: Text, *, timeout: Optional[float] = None
) -> bytes:
    """iSSL_SendThenRecv: posts `body` to https://host:port/url_path, the
    server authenticated by `trust_file`; the raw answer.

    The library's call has no time limit and cannot be cancelled. It runs in
    a thread of its own while the caller waits, so Ctrl-C raises
    KeyboardInterrupt in the caller, and `timeout` (seconds, None for no
    limit) raises TimeoutError when it is up. Either way the call itself goes
    on in the background until the library returns (a server that never
    answers holds it, and its connection, for as long as the platform lets
    it), and then releases its answer; nothing is left behind."""
    host_bytes = to_bytes(host, "host")
    port = port_number(port)
    trust = to_bytes(trust_file, "trust file")
    path = to_bytes(url_path, "URL path")
    text = to_bytes(body, "body")
    limit = seconds(timeout)
    where = host if isinstance(host, str) else host_bytes.decode("latin-1")

    def work() -> bytes:
        return call_for_buffer(
            "iSSL_SendThenRecv",
            host_bytes,
            port,
            trust,
            path,
            int32(len(text), "body length"),
            text,
            host=where,
            port=port,
        )

    return _wait(work, limit, f"iSSL_SendThenRecv to {where}:{port}")
