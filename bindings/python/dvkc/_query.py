"""dvkc.Query: one query's context and record table."""
from __future__ import annotations

import ctypes
import operator
from typing import Iterable, List, Optional, Tuple, Union

from . import _native
from ._arguments import ENCODING, Text, int32, to_bytes
from ._calls import call_for_buffer, envelope, exchange
from ._errors import Error
from ._results import ParseResult

# Each record's Code as the n-th 32-bit integer of the table.
_INTS_PER_RECORD = ctypes.sizeof(_native.QueryRecord) // ctypes.sizeof(ctypes.c_int32)
_CODE_INT = _native.QueryRecord.Code.offset // ctypes.sizeof(ctypes.c_int32)


def _field(value: Text, what: str, limit: int) -> bytes:
    data = to_bytes(value, what)
    if len(data) > limit:
        raise ValueError(f"dvkc: {what}: {len(data)} bytes do not fit its {limit}: {value!r}")
    return data


class Query:
    """One query: a QueryContext and its record table.

    add() checks each record as it comes; build() makes the table, which
    stays at one address, owned by this object, until the next build() or
    clear(), so parse() writes the codes into the records that were sent."""

    def __init__(self, records: Iterable[Tuple[Text, Text]] = ()) -> None:
        self._pending: List[Tuple[bytes, bytes]] = []
        self._table: Optional[ctypes.Array[_native.QueryRecord]] = None
        self._ints: Optional[ctypes.Array[ctypes.c_int32]] = None
        self._context = _native.QueryContext()
        for sn, ssid in records:
            self.add(sn, ssid)

    def add(self, sn: Text, ssid: Text) -> None:
        """Appends a record for the next build(). ValueError naming the field
        for an SN over 16 bytes, an SSID over 10 or empty, a text that cannot
        be encoded or holds NUL, and for a 1001st record."""
        if len(self._pending) >= _native.MAX_RECORDS:
            raise ValueError(f"dvkc: records: a query holds at most {_native.MAX_RECORDS} records")
        sn_bytes = _field(sn, "SN", _native.SN_MAX)
        ssid_bytes = _field(ssid, "SSID", _native.SSID_MAX)
        if not ssid_bytes:
            raise ValueError("dvkc: SSID: empty")
        self._pending.append((sn_bytes, ssid_bytes))

    def clear(self) -> None:
        """Forgets every record added and the last build(): the query is as
        new."""
        self._pending.clear()
        self._table = None
        self._ints = None
        self._context = _native.QueryContext()

    def build(self, seed_modifier: int, identity_file: Text) -> bytes:
        """iMake_DVKReqPKT: the request document for the records added so far
        (ValueError naming the records when there are none); the context gets
        ClientID, Nonce and ReqTime, every code -1."""
        if not self._pending:
            raise ValueError("dvkc: records: the query holds no record (add() one first)")
        seed = int32(seed_modifier, "seed modifier")
        identity = to_bytes(identity_file, "identity file")
        table = (_native.QueryRecord * len(self._pending))()
        for record, (sn, ssid) in zip(table, self._pending):
            record.SN, record.SSID, record.Code = sn, ssid, -1
        self._table = table
        self._ints = (ctypes.c_int32 * (len(table) * _INTS_PER_RECORD)).from_buffer(table)
        self._context.TotalCount = len(table)
        self._context.Records = ctypes.cast(table, ctypes.POINTER(_native.QueryRecord))
        return call_for_buffer("iMake_DVKReqPKT", seed, identity, ctypes.byref(self._context))

    envelope = staticmethod(envelope)
    exchange = staticmethod(exchange)

    def parse(self, answer: Union[str, bytes]) -> None:
        """iParse_DVKResponsePKT: matches `answer` with the last build() and
        writes the codes; raises Error for any result but 0 (for
        ParseResult.SERVICE_ERROR with the service's ErrID)."""
        # The answer as received (a NUL in it ends what the parser reads).
        text = answer.encode(ENCODING) if isinstance(answer, str) else bytes(answer)
        result = int(
            _native.library().iParse_DVKResponsePKT(
                ctypes.byref(self._context), int32(len(text), "answer length"), text
            )
        )
        if result != 0:
            err_id = int(self._context.ErrID) if result == ParseResult.SERVICE_ERROR else None
            raise Error("iParse_DVKResponsePKT", result, err_id)

    def __len__(self) -> int:
        """The number of records of the last build()."""
        return len(self._table) if self._table is not None else 0

    def records(self) -> List[Tuple[bytes, bytes, int]]:
        """(SN, SSID, Code) of each record of the last build(), in order."""
        return [(bytes(r.SN), bytes(r.SSID), int(r.Code)) for r in (self._table or [])]

    def codes(self) -> List[int]:
        """The Code of each record of the last build(), in order: one copy."""
        if self._ints is None:
            return []
        return self._ints[_CODE_INT::_INTS_PER_RECORD]

    def code(self, index: int) -> int:
        """The Code of record `index` (from 0; negative from the end) of the
        last build(), read in place; IndexError outside the table."""
        count = len(self)
        position = operator.index(index)
        if position < 0:
            position += count
        if not 0 <= position < count or self._ints is None:
            raise IndexError(f"dvkc: record {index} of a table of {count}")
        return int(self._ints[position * _INTS_PER_RECORD + _CODE_INT])

    @property
    def client_id(self) -> str:
        """The ClientID that build() wrote."""
        return bytes(self._context.ClientID).decode("ascii")

    @property
    def nonce(self) -> str:
        """The Nonce that build() wrote."""
        return bytes(self._context.Nonce).decode("ascii")

    @property
    def request_time(self) -> str:
        """The ReqTime that build() wrote (YYYYMMDDhhmmss, local time)."""
        return bytes(self._context.ReqTime).decode("ascii")

    @property
    def err_id(self) -> int:
        """The service's ErrID after a parse() that raised for SERVICE_ERROR."""
        return int(self._context.ErrID)

    @property
    def context(self) -> _native.QueryContext:
        """The QueryContext itself, for the C calls."""
        return self._context
