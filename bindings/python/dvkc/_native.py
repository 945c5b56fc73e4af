"""The C interface of dvkc.h as ctypes sees it: the library, its two
structures and its six functions.

- The library: the file named by DVKC_LIBRARY, else libdvkc.so.1 (Linux) or
  DVKCDLL.dll (Windows) through the system's search.
- Calling convention: the C default (cdecl) on every platform, so the library
  is loaded with ctypes.CDLL, never WinDLL (stdcall on 32-bit Windows).
- Texts are single-byte strings (c_char_p); returned buffers are received as
  raw pointers (c_void_p), copied, and given back to vFreeData.
"""
import ctypes
import os
import sys

LIBRARY_VARIABLE = "DVKC_LIBRARY"
DEFAULT_LIBRARY = "DVKCDLL.dll" if sys.platform == "win32" else "libdvkc.so.1"

SN_MAX = 16
SSID_MAX = 10


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

_SIGNATURES = {
    "iMake_DVKReqPKT": (_i32, [_i32, _text, ctypes.POINTER(QueryContext), _out_len, _out_buf]),
    "iMake_DVKRequestPKT": (_i32, [_i32, _text, _i32, _text, _out_len, _out_buf]),
    "iSSL_SendThenRecv": (_i32, [_text, _i32, _text, _text, _i32, _text, _out_len, _out_buf]),
    "iParse_DVKResponsePKT": (_i32, [ctypes.POINTER(QueryContext), _i32, _text]),
    "bin2hex": (_i32, [ctypes.c_void_p, _i32, ctypes.c_char_p]),
    "vFreeData": (None, [ctypes.c_void_p]),
}


def load(path=None):
    """The library with the six functions declared; `path` or DVKC_LIBRARY
    or the platform's default name."""
    path = path or os.environ.get(LIBRARY_VARIABLE) or DEFAULT_LIBRARY
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        raise OSError(
            f"dvkc: cannot load the library {path!r} ({error}); "
            f"set {LIBRARY_VARIABLE} to the path of libdvkc.so.1 or DVKCDLL.dll"
        ) from error
    for name, (restype, argtypes) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


lib = load()
