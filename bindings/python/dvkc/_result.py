"""The base of the result enumerations of dvkc/_results.py."""
from __future__ import annotations

import enum


class Result(enum.IntEnum):
    """A result of one call: an int equal to what the library returns, whose
    `words` are those dvkc.h gives it, e.g.
    ParseResult.NONCE_FOREIGN == 2005 and its words "the answer's nonce is
    not the one we sent"."""

    words: str

    def __new__(cls, value: int, words: str = "") -> Result:
        member = int.__new__(cls, value)
        member._value_ = value
        member.words = words
        return member
