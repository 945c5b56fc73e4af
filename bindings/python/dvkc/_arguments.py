"""What the library's parameters take, checked before any call: texts as
single-byte strings without NUL, numbers as 32-bit signed integers."""
from __future__ import annotations

import math
import operator
import os
import sys
from typing import Final, Optional, Union

# A text: bytes are taken as they are; str is encoded in the system's ANSI
# code page on Windows (the library's paths are ANSI) and in the file-system
# encoding elsewhere; a path is taken as its file-system name.
Text = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

ENCODING: Final = "mbcs" if sys.platform == "win32" else sys.getfilesystemencoding()
INT32_MIN: Final = -(2**31)
INT32_MAX: Final = 2**31 - 1


def to_bytes(value: object, what: str) -> bytes:
    """`value` as the library's bytes; TypeError for another type,
    ValueError naming `what` for a text that cannot be encoded or holds NUL."""
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    if isinstance(value, bytes):
        data = value
    elif isinstance(value, str):
        try:
            data = value.encode(ENCODING)
        except UnicodeEncodeError as error:
            raise ValueError(f"dvkc: {what}: cannot be encoded in {ENCODING}: {value!r}") from error
    else:
        raise TypeError(f"dvkc: {what}: must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"dvkc: {what}: holds a NUL byte: {value!r}")
    return data


def int32(value: int, what: str) -> int:
    """`value` when a 32-bit signed integer holds it; OverflowError naming
    `what` otherwise (ctypes itself would pass 2**31 on as -2**31)."""
    number = operator.index(value)
    if not INT32_MIN <= number <= INT32_MAX:
        raise OverflowError(f"dvkc: {what}: {number} does not fit a 32-bit signed integer")
    return number


def port_number(value: int) -> int:
    """A TCP port, 0 to 65535; ValueError naming the port otherwise (the
    library would take the low 16 bits of any other number)."""
    number = operator.index(value)
    if not 0 <= number <= 65535:
        raise ValueError(f"dvkc: port: {number} is not between 0 and 65535")
    return number


def seconds(value: Optional[float]) -> Optional[float]:
    """A timeout: None (no limit) or a positive finite number of seconds."""
    if value is None:
        return None
    number = float(value)
    if not (number > 0 and math.isfinite(number)):
        raise ValueError(f"dvkc: timeout: {value!r} is not a positive number of seconds (or None)")
    return number
