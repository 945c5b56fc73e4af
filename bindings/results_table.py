#!/usr/bin/env python3
"""The library's result table, read from dvkc.h, as Python or C# source.

dvkc.h names every result of every call once, in the X-macro DVKC_RESULTS:
    X(CALL, NAME, VALUE, "words" ...)
The words live only there (dvkc_result_words() is an inline function of the
header, not an export), so the bindings take their table from the header they
are built against rather than carrying a copy that could drift. The macro is
read strictly: anything but a sequence of X(...) rows of that shape is an
error, never a silently shorter table.

    results_table.py --python HEADER OUT   the module dvkc/_results.py
    results_table.py --csharp HEADER OUT   the C# class Dvkc.Results
"""
import re
import sys

CALLS = ("BUILD", "WRAP", "EXCHANGE", "PARSE")

_TOKEN = re.compile(
    r"""(?P<space>\s+)
      | (?P<comment>/\*.*?\*/)
      | (?P<string>"(?:\\.|[^"\\\n])*")
      | (?P<number>-?[0-9]+)
      | (?P<name>[A-Za-z_][A-Za-z0-9_]*)
      | (?P<punct>[(),])""",
    re.VERBOSE | re.DOTALL,
)
_ESCAPES = {"\\": "\\", '"': '"', "'": "'", "n": "\n", "t": "\t"}


class HeaderError(Exception):
    pass


def _macro_body(header):
    """The text of DVKC_RESULTS' definition, continuation lines joined."""
    lines = header.splitlines()
    for i, line in enumerate(lines):
        if re.match(r"\s*#\s*define\s+DVKC_RESULTS\(X\)", line):
            body = []
            while True:
                text = lines[i]
                body.append(text.rstrip().removesuffix("\\"))
                if not text.rstrip().endswith("\\"):
                    break
                i += 1
            first = re.sub(r"\s*#\s*define\s+DVKC_RESULTS\(X\)", "", body[0], count=1)
            return "\n".join([first] + body[1:])
    raise HeaderError("no '#define DVKC_RESULTS(X)' in the header")


def _unescape(literal):
    out, i, text = [], 0, literal[1:-1]
    while i < len(text):
        if text[i] == "\\":
            if i + 1 >= len(text) or text[i + 1] not in _ESCAPES:
                raise HeaderError(f"unsupported escape in {literal}")
            out.append(_ESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def _tokens(body):
    pos = 0
    while pos < len(body):
        match = _TOKEN.match(body, pos)
        if not match:
            raise HeaderError(f"unexpected text in DVKC_RESULTS: {body[pos:pos + 40]!r}")
        pos = match.end()
        if match.lastgroup not in ("space", "comment"):
            yield match.lastgroup, match.group()


def parse(header):
    """[(call, name, value, words)] in the header's order."""
    tokens = list(_tokens(_macro_body(header)))
    rows, i = [], 0

    def take(kind, text=None):
        nonlocal i
        if i >= len(tokens) or tokens[i][0] != kind or (text is not None and tokens[i][1] != text):
            found = tokens[i][1] if i < len(tokens) else "the end"
            raise HeaderError(f"DVKC_RESULTS row {len(rows) + 1}: expected {text or kind}, found {found}")
        i += 1
        return tokens[i - 1][1]

    while i < len(tokens):
        take("name", "X")
        take("punct", "(")
        call = take("name")
        take("punct", ",")
        name = take("name")
        take("punct", ",")
        value = int(take("number"))
        take("punct", ",")
        words = _unescape(take("string"))
        while i < len(tokens) and tokens[i][0] == "string":
            words += _unescape(take("string"))
        take("punct", ")")
        if call not in CALLS:
            raise HeaderError(f"DVKC_RESULTS: unknown call {call}")
        rows.append((call, name, value, words))
    if not rows:
        raise HeaderError("DVKC_RESULTS holds no row")
    names = [row[1] for row in rows]
    if len(set(names)) != len(names):
        raise HeaderError("DVKC_RESULTS names a result twice")
    return rows


_PYTHON_CLASSES = {"BUILD": "BuildResult", "WRAP": "WrapResult", "EXCHANGE": "ExchangeResult", "PARSE": "ParseResult"}
_PYTHON_CALLS = {
    "BUILD": "iMake_DVKReqPKT",
    "WRAP": "iMake_DVKRequestPKT",
    "EXCHANGE": "iSSL_SendThenRecv",
    "PARSE": "iParse_DVKResponsePKT",
}


def python_source(rows):
    """The module dvkc/_results.py: one IntEnum per call (a member per result,
    carrying its words), each result also as a module constant by its C
    name, and RESULTS, every row as (call, name, value, words)."""
    for call, name, _, _ in rows:
        if not name.startswith(f"DVKC_{call}_"):
            raise HeaderError(f"DVKC_RESULTS: {name} is not named after its call {call}")
    classes = [_PYTHON_CLASSES[call] for call in CALLS]
    names = [name for _, name, _, _ in rows]
    lines = [
        "# Generated from dvkc.h (DVKC_RESULTS) when the package was made; do not edit.",
        '"""Every result of every call of the library, with the words dvkc.h gives it."""',
        "from typing import Final, Tuple",
        "",
        "from ._result import Result",
        "",
        "__all__ = [",
    ]
    lines += [f"    {n!r}," for n in classes + names + ["RESULTS"]]
    lines.append("]")
    for call in CALLS:
        lines += ["", "", f"class {_PYTHON_CLASSES[call]}(Result):", f'    """The results of {_PYTHON_CALLS[call]}."""', ""]
        lines += [
            f"    {name[len(f'DVKC_{call}_'):]} = {value}, {words!r}"
            for row_call, name, value, words in rows
            if row_call == call
        ]
    lines += ["", ""]
    lines += [
        f"{name}: Final = {_PYTHON_CLASSES[call]}.{name[len(f'DVKC_{call}_'):]}" for call, name, _, _ in rows
    ]
    lines += ["", "# (call, name, value, words) for every result of every call, in dvkc.h's order."]
    lines.append("RESULTS: Final[Tuple[Tuple[str, str, int, str], ...]] = (")
    lines += [f"    ({call!r}, {name!r}, {value}, {words!r})," for call, name, value, words in rows]
    lines.append(")")
    return "\n".join(lines) + "\n"


def _csharp_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\t", "\\t") + '"'


def _xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("\n", " ")


def csharp_source(rows):
    call_names = {"BUILD": "Build", "WRAP": "Wrap", "EXCHANGE": "Exchange", "PARSE": "Parse"}
    lines = [
        "// Generated from dvkc.h (DVKC_RESULTS) by bindings/results_table.py; do not edit.",
        "namespace Dvkc",
        "{",
        "    public static partial class Results",
        "    {",
    ]
    for _, name, value, words in rows:
        lines.append(f"        /// <summary>{_xml_text(words)}</summary>")
        lines.append(f"        public const int {name} = {value};")
    lines.append("        internal static readonly Result[] Table = {")
    lines += [
        f"            new Result(Call.{call_names[call]}, \"{name}\", {value}, {_csharp_string(words)}),"
        for call, name, value, words in rows
    ]
    lines += ["        };", "    }", "}"]
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 4 or argv[1] not in ("--python", "--csharp"):
        print("\n".join(__doc__.strip().splitlines()[-2:]), file=sys.stderr)
        return 2
    with open(argv[2], encoding="latin-1") as header:
        rows = parse(header.read())
    source = python_source(rows) if argv[1] == "--python" else csharp_source(rows)
    with open(argv[3], "w", encoding="utf-8") as out:
        out.write(source)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except HeaderError as error:
        print(f"results_table.py: {error}", file=sys.stderr)
        sys.exit(1)
