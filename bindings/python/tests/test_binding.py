"""The binding against the real library: its declarations match what the C
compiler makes of dvkc.h, a whole query runs against dvkc serve, each call's
failure is reported as that call's, arguments are checked at their exact
limits before any call, errors pickle whole, and every returned buffer goes
back to vFreeData, on success and on an exception alike."""
import ctypes
import os
import pickle
import subprocess
import sys

import dvkc
import pytest
from dvkc import _native


def test_structures_have_the_c_layout(c_facts):
    for struct in (_native.QueryRecord, _native.QueryContext):
        assert ctypes.sizeof(struct) == c_facts["size"][struct.__name__]
        for field, _ in struct._fields_:
            assert getattr(struct, field).offset == c_facts["offset"][(struct.__name__, field)], field


def test_result_words_are_the_headers(c_facts):
    assert list(dvkc.RESULTS) == c_facts["result"]
    enums = {"BUILD": dvkc.BuildResult, "WRAP": dvkc.WrapResult, "EXCHANGE": dvkc.ExchangeResult, "PARSE": dvkc.ParseResult}
    for call, name, value, words in c_facts["result"]:
        assert dvkc.words(dvkc.CALL_NAMES[call], value) == words
        member = enums[call][name[len(f"DVKC_{call}_") :]]
        assert (member, member.words, getattr(dvkc, name)) == (value, words, member)
    assert sum(len(e) for e in enums.values()) == len(c_facts["result"])
    assert dvkc.words("iParse_DVKResponsePKT", 1999) == dvkc.UNKNOWN_RESULT


def sample_code(sn):
    return sum(sn.encode()) % 1000


def test_whole_query_against_the_service(service, tmp_path, freed):
    port, trust = service
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"identity of the Python host\n")

    q = dvkc.Query([("SN-0001", "A123"), ("DEV42-7781", "WIFI-HOME")])
    document = q.build(42, identity)
    answer = q.exchange("127.0.0.1", port, trust, "/dvk", q.envelope(document, b"signature"), timeout=60)
    q.parse(answer)

    codes = [sample_code("SN-0001"), sample_code("DEV42-7781")]
    assert q.codes() == codes
    assert (q.code(0), q.code(1), q.code(-1), q.code(-2)) == (codes[0], codes[1], codes[1], codes[0])
    for outside in (2, -3):
        with pytest.raises(IndexError):
            q.code(outside)
    assert q.records()[1] == (b"DEV42-7781", b"WIFI-HOME", sample_code("DEV42-7781"))
    assert len(q.client_id) == 40 and len(q.nonce) == 15 and len(q.request_time) == 14
    assert document.startswith(b"<DVKReq><ClientID>" + q.client_id.encode())
    assert answer.startswith(b"HTTP/1.")
    assert len(freed) == 3 and len(set(freed)) == 3  # document, envelope, answer


def raw_wrap_with_null_document():
    # The library's only failure of the wrap call a host can cause: a null text.
    return dvkc._calls.call_for_buffer("iMake_DVKRequestPKT", 0, None, 3, b"sig")


@pytest.mark.parametrize(
    "call, result, err_id, where, run",
    [
        ("iMake_DVKReqPKT", -1, None, "", lambda d: dvkc.Query([("A1", "B")]).build(1, d / "no-such-identity")),
        ("iMake_DVKRequestPKT", -1, None, "", lambda d: raw_wrap_with_null_document()),
        (
            "iSSL_SendThenRecv",
            -6,
            None,
            " (host 127.0.0.1, port 9)",
            lambda d: dvkc.exchange("127.0.0.1", 9, d / "no-such-trust.pem", "/", b"x"),
        ),
        (
            "iParse_DVKResponsePKT",
            2000,
            77,
            "",
            lambda d: dvkc.Query().parse(b"HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ErrID>77</ErrID></DVKResponse>"),
        ),
    ],
    ids=["build", "wrap", "exchange", "parse"],
)
def test_each_call_reports_its_own_failure(call, result, err_id, where, run, tmp_path, c_facts, freed):
    with pytest.raises(dvkc.Error) as caught:
        run(tmp_path)
    error = caught.value
    words = {(dvkc.CALL_NAMES[c], v): w for c, _, v, w in c_facts["result"]}[(call, result)]
    assert (error.call, error.result, error.words, error.err_id) == (call, result, words, err_id)
    assert isinstance(error.result, dvkc.Result) and error.result.words == words
    expected = f"{call} {result}: {words}" + (f" (ErrID {err_id})" if err_id is not None else "") + where
    assert str(error) == expected
    assert freed == []  # a failed call hands over no buffer

    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        copy = pickle.loads(pickle.dumps(error, protocol))
        assert type(copy) is dvkc.Error and str(copy) == expected
        assert vars(copy) == vars(error) and copy.args == error.args
        assert copy.result is error.result  # the same enumeration member


def test_error_pickles_with_what_was_added_to_it():
    error = dvkc.Error("iSSL_SendThenRecv", -42, host="h\u00e9", port=65535)
    error.add_note("seen by the Python host")
    copy = pickle.loads(pickle.dumps(error))
    assert (copy.result, copy.words, copy.host, copy.port) == (-42, dvkc.UNKNOWN_RESULT, "h\u00e9", 65535)
    assert copy.__notes__ == ["seen by the Python host"]


def test_buffer_released_when_copying_it_fails(tmp_path, monkeypatch, freed):
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"x")

    def no_memory(pointer, length):
        assert pointer and length > 0
        raise MemoryError("copying the document")

    monkeypatch.setattr(dvkc._calls, "string_at", no_memory)
    with pytest.raises(MemoryError):
        dvkc.Query([("SN-1", "S")]).build(7, identity)
    assert len(freed) == 1 and freed[0]


# ------------------------------------------------ checks before any call
@pytest.mark.parametrize(
    "value, fits",
    [(2**31 - 1, True), (2**31, False), (-(2**31), True), (-(2**31) - 1, False)],
    ids=["int32 max", "int32 max + 1", "int32 min", "int32 min - 1"],
)
def test_32_bit_arguments_at_their_limits(value, fits, tmp_path, freed):
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"x")
    q = dvkc.Query([("SN-1", "S")])
    if fits:
        assert q.build(value, identity).startswith(b"<DVKReq>")
        assert len(freed) == 1
    else:
        with pytest.raises(OverflowError, match=f"^dvkc: seed modifier: {value} "):
            q.build(value, identity)
        assert freed == []


RECORD_LIMITS = [
    # (records, the field named, or None where they are taken)
    ([("S" * 16, "A" * 10)], None),
    ([("S" * 17, "A")], "SN"),
    ([("S", "A" * 11)], "SSID"),
    ([("\u00e9" * 8, "\u00e9" * 5)], None),  # 16 and 10 bytes in UTF-8
    ([("\u00e9" * 8 + "x", "A")], "SN"),
    ([("S", "\u00e9" * 5 + "x")], "SSID"),
    ([(b"\xe9" * 16, b"\xe9" * 10)], None),  # Latin-1 bytes, taken as they are
    ([("", "A")], None),
    ([("S", "")], "SSID"),
    ([("S", b"")], "SSID"),
    ([("S\udc80", "A")], "SN"),  # cannot be encoded
    ([("S", "A\0")], "SSID"),
    ([("S", "A")] * 1000, None),
    ([("S", "A")] * 1001, "records"),
]


@pytest.mark.parametrize("records, field", RECORD_LIMITS, ids=[f"row{i}" for i in range(len(RECORD_LIMITS))])
def test_records_checked_as_they_are_added(records, field, tmp_path, freed):
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"x")
    q = dvkc.Query()
    if field is None:
        for sn, ssid in records:
            q.add(sn, ssid)
        q.build(1, identity)
        assert len(q) == len(records) and q.codes() == [-1] * len(records)
    else:
        with pytest.raises(ValueError, match=f"^dvkc: {field}: "):
            for sn, ssid in records:
                q.add(sn, ssid)
        assert freed == []


def test_clear_and_an_empty_table(tmp_path):
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"x")
    q = dvkc.Query()
    with pytest.raises(ValueError, match="^dvkc: records: "):
        q.build(1, identity)
    with pytest.raises(IndexError):
        q.code(0)
    q.add("SN-1", "S")
    q.build(1, identity)
    assert (len(q), q.codes(), q.code(0)) == (1, [-1], -1)
    q.clear()
    assert (len(q), q.codes(), q.records(), q.client_id) == (0, [], [], "")
    with pytest.raises(ValueError, match="^dvkc: records: "):
        q.build(1, identity)
    q.add("SN-2", "T")
    q.build(1, identity)
    assert q.records() == [(b"SN-2", b"T", -1)]


@pytest.mark.parametrize("port, fits", [(0, True), (65535, True), (65536, False), (-1, False)])
def test_port_at_its_limits(port, fits, tmp_path):
    missing = tmp_path / "no-such-trust.pem"
    if fits:  # reaches the library, which fails on the trust file
        with pytest.raises(dvkc.Error, match=f"port {port}\\)$"):
            dvkc.exchange("127.0.0.1", port, missing, "/", b"x")
    else:
        with pytest.raises(ValueError, match=f"^dvkc: port: {port} "):
            dvkc.exchange("127.0.0.1", port, missing, "/", b"x")


# ------------------------------------------------------------ the loader
def test_loader_order(tmp_path):
    bundled = tmp_path / _native.library_name("linux")
    assert _native.candidates({}, "linux", str(tmp_path)) == [("system", "libdvkc.so.1")]
    bundled.write_bytes(b"")
    assert _native.candidates({}, "linux", str(tmp_path)) == [("bundled", str(bundled)), ("system", "libdvkc.so.1")]
    chosen = {"DVKC_LIBRARY": "/opt/x/libdvkc.so.1"}
    assert _native.candidates(chosen, "linux", str(tmp_path)) == [("DVKC_LIBRARY", "/opt/x/libdvkc.so.1")]


def test_the_installed_package_loads_the_library_it_carries():
    loaded = _native.library()._name
    assert loaded == os.path.join(os.path.dirname(os.path.abspath(dvkc.__file__)), "libdvkc.so.1")


def test_import_needs_no_library_and_the_first_call_names_the_variable(tmp_path):
    missing = tmp_path / "no-such-libdvkc.so.1"
    script = (
        "import dvkc\n"
        "print(dvkc.__version__, dvkc.ParseResult.NONCE_FOREIGN.words)\n"
        "try:\n"
        "    dvkc.envelope(b'doc', b'sig')\n"
        "except dvkc.LibraryNotFoundError as error:\n"
        "    print(error)\n"
    )
    shown = subprocess.run(
        [sys.executable, "-c", script],
        env={**os.environ, "DVKC_LIBRARY": str(missing)},
        capture_output=True,
        text=True,
        check=True,
    ).stdout.splitlines()
    assert shown[0] == f"{dvkc.__version__} the answer's nonce is not the one we sent"
    assert str(missing) in shown[1] and "set DVKC_LIBRARY to the path of libdvkc.so.1" in shown[1]
