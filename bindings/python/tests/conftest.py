"""Shared by the binding's tests (run by CTest, which sets the variables):
  DVKC_TOOL     the dvkc tool, whose `serve` is the service queried
  DVKC_C_FACTS  what the C compiler makes of dvkc.h (bindings/c_facts.c)
The library is found as a host finds it (libdvkc.so.1 through the loader's
path, or DVKC_LIBRARY)."""
import os
import re
import subprocess

import pytest


def _required(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.fail(f"{variable} is not set: run these tests through CTest")
    return value


@pytest.fixture(scope="session")
def c_facts():
    """{"size": {struct: n}, "offset": {(struct, field): n}, "result": [(call, name, value, words)]}"""
    facts = {"size": {}, "offset": {}, "result": []}
    with open(_required("DVKC_C_FACTS"), encoding="latin-1") as lines:
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
        [_required("DVKC_TOOL"), "serve", "--listen", "127.0.0.1:0", "--pki-dir", str(pki)],
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
