"""dvkc.Error, and the words for each result of each call."""
from __future__ import annotations

from typing import Any, Dict, Final, Mapping, Optional, Tuple, Type

from ._result import Result
from ._results import BuildResult, ExchangeResult, ParseResult, WrapResult

# The exported function of each call of DVKC_RESULTS.
CALL_NAMES: Final[Mapping[str, str]] = {
    "BUILD": "iMake_DVKReqPKT",
    "WRAP": "iMake_DVKRequestPKT",
    "EXCHANGE": "iSSL_SendThenRecv",
    "PARSE": "iParse_DVKResponsePKT",
}
_RESULT_TYPES: Final[Mapping[str, Type[Result]]] = {
    "iMake_DVKReqPKT": BuildResult,
    "iMake_DVKRequestPKT": WrapResult,
    "iSSL_SendThenRecv": ExchangeResult,
    "iParse_DVKResponsePKT": ParseResult,
}
UNKNOWN_RESULT: Final = "unknown result"


def result_of(call: str, value: int) -> int:
    """`value` as a member of `call`'s result enumeration (an int), or the
    plain int when dvkc.h names no such result."""
    kind = _RESULT_TYPES.get(call)
    try:
        return kind(value) if kind is not None else value
    except ValueError:
        return value


def words(call: str, result: int) -> str:
    """The words dvkc.h gives for `result` of `call` (an exported name such as
    "iSSL_SendThenRecv"); "unknown result" for anything else."""
    member = result_of(call, result)
    return member.words if isinstance(member, Result) else UNKNOWN_RESULT


class Error(Exception):
    """A call that returned anything but 0.

    `call`    the exported name, e.g. "iParse_DVKResponsePKT";
    `result`  what it returned, a member of that call's enumeration
              (ParseResult.NONCE_FOREIGN, an int) when dvkc.h names it;
    `words`   the words dvkc.h gives for it;
    `err_id`  the service's ErrID for ParseResult.SERVICE_ERROR, else None;
    `host`, `port`  where an exchange went, else None.

    str() reads e.g. "iParse_DVKResponsePKT 2005: the answer's nonce is not the
    one we sent", or for an exchange "iSSL_SendThenRecv -9: the TCP connection
    failed (nothing listening, or unreachable) (host 127.0.0.1, port 9)".
    It pickles whole, so it crosses process pools."""

    call: str
    result: int
    words: str
    err_id: Optional[int]
    host: Optional[str]
    port: Optional[int]

    def __init__(
        self,
        call: str,
        result: int,
        err_id: Optional[int] = None,
        host: Optional[str] = None,
        port: Optional[int] = None,
    ) -> None:
        self.call = call
        self.result = result_of(call, result)
        self.words = words(call, result)
        self.err_id = err_id
        self.host = host
        self.port = port
        text = f"{call} {int(result)}: {self.words}"
        if err_id is not None:
            text += f" (ErrID {err_id})"
        if host is not None:
            text += f" (host {host}, port {port})"
        super().__init__(text)

    def __reduce__(self) -> Tuple[Any, ...]:
        arguments = (self.call, int(self.result), self.err_id, self.host, self.port)
        state: Dict[str, Any] = dict(self.__dict__)
        return (type(self), arguments, state)
