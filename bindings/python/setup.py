"""Builds the dvkc package: pure Python (ctypes), plus the module
dvkc/_results.py made from the library's header at build time.

The result words exist once, in dvkc.h's DVKC_RESULTS (the library exports no
function that returns them), so the package reads them from the header it is
built against: ../../include/dvkc.h of this tree, or the header named by the
environment variable DVKC_HEADER (e.g. include/dvkc.h of the Windows zip).
The version is the project's, from ../../CMakeLists.txt, or DVKC_VERSION.
"""
import importlib.util
import os
import re
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
TREE = HERE.parent.parent


def _results_table():
    spec = importlib.util.spec_from_file_location("results_table", HERE.parent / "results_table.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def _version():
    if os.environ.get("DVKC_VERSION"):
        return os.environ["DVKC_VERSION"]
    text = (TREE / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*dvkc\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise RuntimeError("dvkc: no project version in CMakeLists.txt (set DVKC_VERSION)")
    return match.group(1)


class BuildWithResults(build_py):
    """build_py that also writes dvkc/_results.py from dvkc.h."""

    def run(self):
        super().run()
        header = Path(os.environ.get("DVKC_HEADER", TREE / "include" / "dvkc.h"))
        table = _results_table()
        rows = table.parse(header.read_text(encoding="latin-1"))
        target = Path(self.build_lib) / "dvkc" / "_results.py"
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(table.python_source(rows), encoding="utf-8")


setup(version=_version(), cmdclass={"build_py": BuildWithResults})
