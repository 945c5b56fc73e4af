"""dvkc: query the DVK service through the dvkc library (libdvkc.so.1 or
DVKCDLL.dll), with ctypes.

    q = dvkc.Query()
    q.add("SN-0001", "A123")
    document = q.build(42, "client.id")
    q.parse(q.exchange("dvk.example.net", 443, "/dvk", "service-ca.pem", q.envelope(document, sign(document))))
    print(q.codes)

Every call either returns what the library produced (bytes for the document,
the envelope and the answer) or raises dvkc.Error, which carries the call's
exported name, its result, the words dvkc.h gives for that result and, for
DVKC_PARSE_SERVICE_ERROR, the service's ErrID. Every buffer the library
returns is copied and given back to vFreeData at once, however the call ends.

Texts (records, host, paths, signature) may be bytes, taken as they are, or
str, encoded in the system's ANSI code page on Windows (the library's paths
are ANSI) and in the file-system encoding elsewhere.
"""
import ctypes
import os
import sys
from ctypes import string_at

from . import _native
from ._results import RESULTS

__all__ = ["Error", "Query", "envelope", "exchange", "words", "RESULTS", "CALL_NAMES"]

# The exported function of each call of DVKC_RESULTS.
CALL_NAMES = {
    "BUILD": "iMake_DVKReqPKT",
    "WRAP": "iMake_DVKRequestPKT",
    "EXCHANGE": "iSSL_SendThenRecv",
    "PARSE": "iParse_DVKResponsePKT",
}
UNKNOWN_RESULT = "unknown result"
_WORDS = {(CALL_NAMES[call], value): text for call, _, value, text in RESULTS}
# The results by name, e.g. dvkc.DVKC_PARSE_SERVICE_ERROR == 2000.
globals().update({name: value for _, name, value, _ in RESULTS})
_SERVICE_ERROR = next(value for _, name, value, _ in RESULTS if name == "DVKC_PARSE_SERVICE_ERROR")

_ENCODING = "mbcs" if sys.platform == "win32" else sys.getfilesystemencoding()


def words(call, result):
    """The words dvkc.h gives for `result` of `call` (an exported name such as
    "iSSL_SendThenRecv"); "unknown result" for anything else."""
    return _WORDS.get((call, result), UNKNOWN_RESULT)


class Error(Exception):
    """A call that returned anything but 0: `call` (its exported name),
    `result`, `words` and `err_id` (the service's ErrID for 2000, else None).
    str() reads e.g. "iParse_DVKResponsePKT 2005: the answer's nonce is not
    the one we sent"."""

    def __init__(self, call, result, err_id=None):
        self.call = call
        self.result = result
        self.words = words(call, result)
        self.err_id = err_id
        text = f"{call} {result}: {self.words}"
        if err_id is not None:
            text += f" (ErrID {err_id})"
        super().__init__(text)


def _bytes(text, what):
    if isinstance(text, bytes):
        value = text
    elif isinstance(text, str):
        value = text.encode(_ENCODING)
    elif isinstance(text, os.PathLike):
        return _bytes(os.fspath(text), what)
    else:
        raise TypeError(f"dvkc: {what} must be str or bytes, not {type(text).__name__}")
    if b"\0" in value:
        raise ValueError(f"dvkc: {what} holds a NUL byte")
    return value


def _int32(value, what):
    if not -(2**31) <= value < 2**31:
        raise OverflowError(f"dvkc: {what} does not fit a 32-bit signed integer")
    return value


def _call_for_buffer(call, function, *args):
    """Calls `function` with `args` and the two out-parameters; the text it
    returns, copied. The buffer goes back to vFreeData whatever happens once
    the call has returned."""
    length = ctypes.c_int32(0)
    buffer = ctypes.c_void_p()
    try:
        result = function(*args, ctypes.byref(length), ctypes.byref(buffer))
        if result != 0:
            raise Error(call, result)
        return string_at(buffer.value, length.value)
    finally:
        if buffer.value:
            _native.lib.vFreeData(buffer.value)


def envelope(document, signature):
    """iMake_DVKRequestPKT: the envelope around `document` and `signature`."""
    doc = _bytes(document, "document")
    sig = _bytes(signature, "signature")
    return _call_for_buffer(
        "iMake_DVKRequestPKT",
        _native.lib.iMake_DVKRequestPKT,
        _int32(len(doc), "document length"),
        doc,
        _int32(len(sig), "signature length"),
        sig,
    )


def exchange(host, port, path, trust_file, body):
    """iSSL_SendThenRecv: posts `body` to https://host:port/path, the server
    authenticated by `trust_file`; the raw answer. Blocks without a time
    limit, as the library does."""
    text = _bytes(body, "body")
    return _call_for_buffer(
        "iSSL_SendThenRecv",
        _native.lib.iSSL_SendThenRecv,
        _bytes(host, "host"),
        _int32(port, "port"),
        _bytes(trust_file, "trust file"),
        _bytes(path, "path"),
        _int32(len(text), "body length"),
        text,
    )


class Query:
    """One query: a QueryContext and its record table. The table that build()
    makes stays at one address, owned by this object, until the next build(),
    so parse() writes the codes into the records that were sent."""

    def __init__(self, records=()):
        self._pending = []
        self._table = None
        self._context = _native.QueryContext()
        for sn, ssid in records:
            self.add(sn, ssid)

    def add(self, sn, ssid):
        """Appends a record for the next build(); ValueError when SN exceeds
        16 or SSID 10 bytes."""
        sn_bytes, ssid_bytes = _bytes(sn, "SN"), _bytes(ssid, "SSID")
        if len(sn_bytes) > _native.SN_MAX:
            raise ValueError(f"dvkc: SN longer than {_native.SN_MAX} bytes: {sn!r}")
        if len(ssid_bytes) > _native.SSID_MAX:
            raise ValueError(f"dvkc: SSID longer than {_native.SSID_MAX} bytes: {ssid!r}")
        self._pending.append((sn_bytes, ssid_bytes))

    def build(self, seed_modifier, identity_file):
        """iMake_DVKReqPKT: the request document for the records added so far;
        the context gets ClientID, Nonce and ReqTime, every code -1."""
        table = (_native.QueryRecord * len(self._pending))()
        for record, (sn, ssid) in zip(table, self._pending):
            record.SN, record.SSID, record.Code = sn, ssid, -1
        self._table = table
        self._context.TotalCount = len(table)
        self._context.Records = ctypes.cast(table, ctypes.POINTER(_native.QueryRecord)) if len(table) else None
        return _call_for_buffer(
            "iMake_DVKReqPKT",
            _native.lib.iMake_DVKReqPKT,
            _int32(seed_modifier, "seed modifier"),
            _bytes(identity_file, "identity file"),
            ctypes.byref(self._context),
        )

    envelope = staticmethod(envelope)
    exchange = staticmethod(exchange)

    def parse(self, answer):
        """iParse_DVKResponsePKT: matches `answer` with the last build() and
        writes the codes; raises Error for any result but 0 (for
        DVKC_PARSE_SERVICE_ERROR with the service's ErrID)."""
        # The answer as received (a NUL in it ends what the parser reads).
        text = answer.encode(_ENCODING) if isinstance(answer, str) else bytes(answer)
        result = _native.lib.iParse_DVKResponsePKT(
            ctypes.byref(self._context), _int32(len(text), "answer length"), text
        )
        if result != 0:
            err_id = self._context.ErrID if result == _SERVICE_ERROR else None
            raise Error("iParse_DVKResponsePKT", result, err_id)

    def __len__(self):
        return len(self._table) if self._table is not None else 0

    @property
    def records(self):
        """(SN, SSID, Code) of each record of the last build(), in order."""
        return [(r.SN, r.SSID, r.Code) for r in (self._table or [])]

    @property
    def codes(self):
        """The Code of each record of the last build(), in order."""
        return [r.Code for r in (self._table or [])]

    def code(self, index):
        """The Code of record `index` (from 0) of the last build()."""
        return self.codes[index]

    client_id = property(lambda self: self._context.ClientID.decode("ascii"))
    nonce = property(lambda self: self._context.Nonce.decode("ascii"))
    request_time = property(lambda self: self._context.ReqTime.decode("ascii"))
    err_id = property(lambda self: self._context.ErrID)
    context = property(lambda self: self._context, doc="The QueryContext itself, for the C calls.")
