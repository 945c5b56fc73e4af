"""The binding against the real library: its declarations match what the C
compiler makes of dvkc.h, a whole query runs against dvkc serve, each call's
failure is reported as that call's, and every returned buffer goes back to
vFreeData, on success and on an exception alike."""
import ctypes

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
    for call, name, value, words in c_facts["result"]:
        assert dvkc.words(dvkc.CALL_NAMES[call], value) == words
        assert getattr(dvkc, name) == value


@pytest.fixture
def freed(monkeypatch):
    """Every pointer given to vFreeData during the test, in order."""
    calls = []
    real = _native.lib.vFreeData

    class CountingLibrary:
        def __getattr__(self, name):
            return getattr(real_lib, name)

        @staticmethod
        def vFreeData(pointer):
            calls.append(pointer)
            real(pointer)

    real_lib = _native.lib
    monkeypatch.setattr(_native, "lib", CountingLibrary())
    return calls


def sample_code(sn):
    return sum(sn.encode()) % 1000


def test_whole_query_against_the_service(service, tmp_path, freed):
    port, trust = service
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"identity of the Python host\n")

    q = dvkc.Query([("SN-0001", "A123"), ("DEV42-7781", "WIFI-HOME")])
    document = q.build(42, identity)
    answer = q.exchange("127.0.0.1", port, "/dvk", trust, q.envelope(document, b"signature"))
    q.parse(answer)

    assert q.codes == [sample_code("SN-0001"), sample_code("DEV42-7781")]
    assert q.records[1] == (b"DEV42-7781", b"WIFI-HOME", sample_code("DEV42-7781"))
    assert len(q.client_id) == 40 and len(q.nonce) == 15 and len(q.request_time) == 14
    assert document.startswith(b"<DVKReq><ClientID>" + q.client_id.encode())
    assert answer.startswith(b"HTTP/1.")
    assert len(freed) == 3 and len(set(freed)) == 3  # document, envelope, answer


def raw_wrap_with_null_document():
    # The library's only failure of the wrap call a host can cause: a null text.
    return dvkc._call_for_buffer("iMake_DVKRequestPKT", _native.lib.iMake_DVKRequestPKT, 0, None, 3, b"sig")


@pytest.mark.parametrize(
    "call, result, err_id, run",
    [
        ("iMake_DVKReqPKT", -1, None, lambda d: dvkc.Query([("A1", "B")]).build(1, d / "no-such-identity")),
        ("iMake_DVKRequestPKT", -1, None, lambda d: raw_wrap_with_null_document()),
        ("iSSL_SendThenRecv", -6, None, lambda d: dvkc.exchange("127.0.0.1", 9, "/", d / "no-such-trust.pem", b"x")),
        (
            "iParse_DVKResponsePKT",
            2000,
            77,
            lambda d: dvkc.Query().parse(b"HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ErrID>77</ErrID></DVKResponse>"),
        ),
    ],
    ids=["build", "wrap", "exchange", "parse"],
)
def test_each_call_reports_its_own_failure(call, result, err_id, run, tmp_path, c_facts, freed):
    with pytest.raises(dvkc.Error) as caught:
        run(tmp_path)
    error = caught.value
    words = {(dvkc.CALL_NAMES[c], v): w for c, _, v, w in c_facts["result"]}[(call, result)]
    assert (error.call, error.result, error.words, error.err_id) == (call, result, words, err_id)
    expected = f"{call} {result}: {words}" + (f" (ErrID {err_id})" if err_id is not None else "")
    assert str(error) == expected
    assert freed == []  # a failed call hands over no buffer


def test_buffer_released_when_copying_it_fails(tmp_path, monkeypatch, freed):
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"x")

    def no_memory(pointer, length):
        assert pointer and length > 0
        raise MemoryError("copying the document")

    monkeypatch.setattr(dvkc, "string_at", no_memory)
    with pytest.raises(MemoryError):
        dvkc.Query([("SN-1", "S")]).build(7, identity)
    assert len(freed) == 1 and freed[0]
