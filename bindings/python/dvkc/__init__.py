"""dvkc: query the DVK service through the dvkc library (libdvkc.so.1 or
DVKCDLL.dll), with ctypes.

    q = dvkc.Query([("SN-0001", "A123")])
    document = q.build(42, "client.id")
    body = q.envelope(document, sign(document))
    q.parse(q.exchange("dvk.example.net", 443, "service-ca.pem", "/dvk", body, timeout=30))
    print(q.codes())

Every call either returns what the library produced (bytes for the document,
the envelope and the answer) or raises dvkc.Error, which carries the call's
exported name, its result (a member of BuildResult, WrapResult,
ExchangeResult or ParseResult), the words dvkc.h gives for that result, the
service's ErrID for ParseResult.SERVICE_ERROR, and the host and port of an
exchange. Every buffer the library returns is copied and given back to
vFreeData at once, however the call ends.

Texts (records, host, paths, signature) may be bytes, taken as they are, or
str, encoded in the system's ANSI code page on Windows (the library's paths
are ANSI) and in the file-system encoding elsewhere.

The library is loaded at the first call: the file named by DVKC_LIBRARY, else
the one bundled in a platform wheel, else the system's; importing dvkc needs
none of them.
"""
from ._errors import CALL_NAMES, UNKNOWN_RESULT, Error, words
from ._calls import envelope, exchange
from ._native import LIBRARY_VARIABLE, MAX_RECORDS, SN_MAX, SSID_MAX, LibraryNotFoundError
from ._query import Query
from ._result import Result
from ._results import *  # noqa: F401,F403 (the generated result enumerations and constants)
from ._results import __all__ as _results_all
from ._version import __version__

__all__ = [
    "Error",
    "LibraryNotFoundError",
    "Query",
    "Result",
    "envelope",
    "exchange",
    "words",
    "CALL_NAMES",
    "UNKNOWN_RESULT",
    "LIBRARY_VARIABLE",
    "MAX_RECORDS",
    "SN_MAX",
    "SSID_MAX",
    "__version__",
]
__all__ += _results_all
