"""Shared by the binding's tests (run by CTest, which sets the variables):
  DVKC_TOOL     the dvkc tool, whose `serve` is the service queried
  DVKC_C_FACTS  what the C compiler makes of dvkc.h (bindings/c_facts.c)
  DVKC_WHEEL, DVKC_SDIST  the Linux wheel and the sdist made by the build
The package is imported as installed from the wheel, and loads the library
that the wheel carries."""
import os
import re
import socket
import subprocess
import threading

import pytest


def required(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.fail(f"{variable} is not set: run these tests through CTest")
    return value


@pytest.fixture(scope="session")
def c_facts():
    """{"size": {struct: n}, "offset": {(struct, field): n}, "result": [(call, name, value, words)]}"""
    facts = {"size": {}, "offset": {}, "result": []}
    with open(required("DVKC_C_FACTS"), encoding="latin-1") as lines:
        for line in lines:
            kind, *fields = line.rstrip("\n").split("\t")
            if kind == "size":
                facts["size"][fields[0]] = int(fields[1])
            elif kind == "offset":
                facts["offset"][(fields[0], fields[1])] = int(fields[2])
            else:
                facts["result"].append((fields[0], fields[1], int(fields[2]), fields[3]))
    return facts


@pytest.fixture(scope="session")
def service(tmp_path_factory):
    """dvkc serve on 127.0.0.1, a free port, a PKI of its own: (port, trust file)."""
    pki = tmp_path_factory.mktemp("serve") / "pki"
    process = subprocess.Popen(
        [required("DVKC_TOOL"), "serve", "--listen", "127.0.0.1:0", "--pki-dir", str(pki)],
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        port = None
        for line in process.stdout:
            match = re.search(r"listening on https://127\.0\.0\.1:([0-9]+)/", line)
            if match:
                port = int(match.group(1))
                break
        if port is None:
            pytest.fail(f"dvkc serve did not start (status {process.wait()})")
        yield port, pki / "trust.pem"
    finally:
        process.terminate()
        process.communicate(timeout=30)


@pytest.fixture
def freed(monkeypatch):
    """Every pointer given to vFreeData during the test, in order, from
    whichever thread."""
    from dvkc import _native

    calls = []
    real_lib = _native.library()

    class CountingLibrary:
        def __getattr__(self, name):
            return getattr(real_lib, name)

        @staticmethod
        def vFreeData(pointer):
            calls.append(pointer)
            real_lib.vFreeData(pointer)

    counting = CountingLibrary()
    monkeypatch.setattr(_native, "library", lambda: counting)
    return calls


class Relay:
    """A TCP server on 127.0.0.1 that takes one connection and holds it,
    reading nothing, until release() (then it relays it to `target_port`)
    or stop() (then it closes it)."""

    def __init__(self, target_port):
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self._target = target_port
        self.accepted = threading.Event()
        self._go = threading.Event()
        self._relay = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def release(self):
        self._relay = True
        self._go.set()

    def stop(self):
        self._go.set()
        self._listener.close()
        self._thread.join(timeout=30)

    @staticmethod
    def _copy(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass
        finally:
            try:
                sink.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def _serve(self):
        try:
            client, _ = self._listener.accept()
        except OSError:
            return
        with client:
            self.accepted.set()
            self._go.wait()
            if not self._relay:
                return
            with socket.create_connection(("127.0.0.1", self._target)) as upstream:
                back = threading.Thread(target=self._copy, args=(upstream, client))
                back.start()
                self._copy(client, upstream)
                back.join()


@pytest.fixture
def relay(service):
    """A Relay in front of the service."""
    held = Relay(service[0])
    yield held
    held.stop()
