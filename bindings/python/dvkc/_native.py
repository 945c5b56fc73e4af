"""The C interface of dvkc.h as ctypes sees it: the library, its two
structures and its six functions.

- The library is loaded at the first call, not at import, from the first of:
  1. the file named by DVKC_LIBRARY (when set, nothing else is tried);
  2. the library bundled in this package (a platform wheel carries
     libdvkc.so.1 or DVKCDLL.dll beside this file);
  3. libdvkc.so.1 (Linux) or DVKCDLL.dll (Windows) through the system's
     search.
- Calling convention: the C default (cdecl) on every platform, so the library
  is loaded with ctypes.CDLL, never WinDLL (stdcall on 32-bit Windows).
- Texts are single-byte strings (c_char_p); returned buffers are received as
  raw pointers (c_void_p), copied, and given back to vFreeData.

This module imports nothing from the package, so that a packaging check can
load it from an unpacked wheel of another platform.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Dict, List, Mapping, Optional, Tuple

LIBRARY_VARIABLE = "DVKC_LIBRARY"

SN_MAX = 16
SSID_MAX = 10
MAX_RECORDS = 1000


class LibraryNotFoundError(OSError):
    """The dvkc library could not be loaded; the message names every place
    tried and DVKC_LIBRARY."""


def library_name(platform: str = sys.platform) -> str:
    """The library's file name on `platform` (a sys.platform value)."""
    return "DVKCDLL.dll" if platform == "win32" else "libdvkc.so.1"


def candidates(
    environ: Mapping[str, str], platform: str, package_dir: str
) -> List[Tuple[str, str]]:
    """(where, what to load) in the loader's order: DVKC_LIBRARY alone when
    set, else the bundled file when the package holds one, then the system's
    library by name."""
    chosen = environ.get(LIBRARY_VARIABLE)
    if chosen:
        return [(LIBRARY_VARIABLE, chosen)]
    found: List[Tuple[str, str]] = []
    bundled = os.path.join(package_dir, library_name(platform))
    if os.path.isfile(bundled):
        found.append(("bundled", os.path.abspath(bundled)))
    found.append(("system", library_name(platform)))
    return found


class QueryRecord(ctypes.Structure):
    """32 bytes: SN at 0, SSID at 17, Code at 28."""

    _fields_ = [
        ("SN", ctypes.c_char * (SN_MAX + 1)),
        ("SSID", ctypes.c_char * (SSID_MAX + 1)),
        ("Code", ctypes.c_int32),
    ]


class QueryContext(ctypes.Structure):
    """ClientID 0, Nonce 101, ReqTime 117, ErrID 132, TotalCount 136, Records
    144 (64-bit pointers) or 140 (32-bit)."""

    _fields_ = [
        ("ClientID", ctypes.c_char * 101),
        ("Nonce", ctypes.c_char * 16),
        ("ReqTime", ctypes.c_char * 15),
        ("ErrID", ctypes.c_int32),
        ("TotalCount", ctypes.c_int32),
        ("Records", ctypes.POINTER(QueryRecord)),
    ]


_i32 = ctypes.c_int32
_text = ctypes.c_char_p
_out_len = ctypes.POINTER(ctypes.c_int32)
_out_buf = ctypes.POINTER(ctypes.c_void_p)

_SIGNATURES: Dict[str, Tuple[object, List[object]]] = {
    "iMake_DVKReqPKT": (_i32, [_i32, _text, ctypes.POINTER(QueryContext), _out_len, _out_buf]),
    "iMake_DVKRequestPKT": (_i32, [_i32, _text, _i32, _text, _out_len, _out_buf]),
    "iSSL_SendThenRecv": (_i32, [_text, _i32, _text, _text, _i32, _text, _out_len, _out_buf]),
    "iParse_DVKResponsePKT": (_i32, [ctypes.POINTER(QueryContext), _i32, _text]),
    "bin2hex": (_i32, [ctypes.c_void_p, _i32, ctypes.c_char_p]),
    "vFreeData": (None, [ctypes.c_void_p]),
}

_lock = threading.Lock()
_loaded: Optional[ctypes.CDLL] = None


def _open(what: str, platform: str) -> ctypes.CDLL:
    if platform == "win32" and not os.path.dirname(what):
        # Python looks for a bare DLL name only in its own and the system's
        # folders; the system's search meant here is the PATH's.
        what = ctypes.util.find_library(what) or what
    return ctypes.CDLL(what)


def load(
    environ: Mapping[str, str] = os.environ,
    platform: str = sys.platform,
    package_dir: str = os.path.dirname(os.path.abspath(__file__)),
) -> ctypes.CDLL:
    """The library with the six functions declared, from the first candidate
    that loads; LibraryNotFoundError naming all that failed otherwise."""
    failures = []
    for where, what in candidates(environ, platform, package_dir):
        try:
            library = _open(what, platform)
        except OSError as error:
            failures.append(f"{where} {what!r}: {error}")
            continue
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(library, name)
            function.restype = restype
            function.argtypes = argtypes
        return library
    raise LibraryNotFoundError(
        f"dvkc: cannot load the dvkc library ({'; '.join(failures)}); "
        f"set {LIBRARY_VARIABLE} to the path of {library_name(platform)}"
    )


def library() -> ctypes.CDLL:
    """The library, loaded at the first call and kept."""
    global _loaded
    with _lock:
        if _loaded is None:
            _loaded = load()
        return _loaded
