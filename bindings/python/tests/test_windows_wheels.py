"""The Windows wheels: each holds its DVKCDLL.dll, of the right machine,
under the right tag, and the package's loader picks that DLL on Windows
(there is no Windows Python here: the loader's choice is asked with
Windows as the platform, from the package as the wheel unpacks).

With DVKC_WINDOWS_WHEELS (the folder make_packages.py windows filled),
DVKC_WINDOWS_X64_DLL and DVKC_WINDOWS_X86_DLL set, the wheels built from the
real DLLs are checked (.ci/run, after both Windows builds); without them the
wheels are made here from two stand-in DLLs, headers only."""
import importlib.util
import os
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

MACHINES = {"win_amd64": 0x8664, "win32": 0x014C}
VARIABLES = {"win_amd64": "DVKC_WINDOWS_X64_DLL", "win32": "DVKC_WINDOWS_X86_DLL"}
MAKE_PACKAGES = Path(__file__).resolve().parents[1] / "make_packages.py"


def pe_machine(image):
    """The machine field of a PE image's COFF header."""
    assert image[:2] == b"MZ"
    (offset,) = struct.unpack_from("<I", image, 0x3C)
    assert image[offset : offset + 4] == b"PE\0\0"
    return struct.unpack_from("<H", image, offset + 4)[0]


def stand_in_dll(machine):
    header = bytearray(0x40)
    header[:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    return bytes(header) + b"PE\0\0" + struct.pack("<H", machine) + bytes(18)


@pytest.fixture(scope="module")
def wheels(tmp_path_factory):
    """{tag: (wheel, the DLL it was made from)}"""
    folder = os.environ.get("DVKC_WINDOWS_WHEELS")
    if folder:
        dlls = {tag: Path(os.environ[variable]) for tag, variable in VARIABLES.items()}
    else:
        work = tmp_path_factory.mktemp("windows")
        dlls = {}
        for tag, machine in MACHINES.items():
            dlls[tag] = work / tag / "DVKCDLL.dll"
            dlls[tag].parent.mkdir()
            dlls[tag].write_bytes(stand_in_dll(machine))
        folder = work / "dist"
        subprocess.run(
            [sys.executable, str(MAKE_PACKAGES), "windows", "--x64", str(dlls["win_amd64"]),
             "--x86", str(dlls["win32"]), "--outdir", str(folder)],
            check=True,
            capture_output=True,
        )
    found = {}
    for tag in MACHINES:
        (wheel,) = Path(folder).glob(f"dvkc-*-py3-none-{tag}.whl")
        found[tag] = (wheel, dlls[tag])
    return found


@pytest.mark.parametrize("tag", MACHINES)
def test_each_wheel_holds_its_dll_under_its_tag(tag, wheels):
    wheel, dll = wheels[tag]
    version = wheel.name.split("-")[1]
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        assert "dvkc/DVKCDLL.dll" in names and "dvkc/libdvkc.so.1" not in names
        image = archive.read("dvkc/DVKCDLL.dll")
        assert image == dll.read_bytes() and pe_machine(image) == MACHINES[tag]
        metadata = archive.read(f"dvkc-{version}.dist-info/WHEEL").decode().splitlines()
        assert f"Tag: py3-none-{tag}" in metadata and "Root-Is-Purelib: false" in metadata
        assert {"dvkc/__init__.py", "dvkc/_results.py", "dvkc/_version.py", "dvkc/py.typed"} <= names


@pytest.mark.parametrize("tag", MACHINES)
def test_the_loader_picks_the_bundled_dll(tag, wheels, tmp_path):
    wheel, _ = wheels[tag]
    with zipfile.ZipFile(wheel) as archive:
        archive.extractall(tmp_path)
    package = tmp_path / "dvkc"
    loader_plan = importlib.util.spec_from_file_location(f"dvkc_native_{tag}", package / "_native.py")
    native = importlib.util.module_from_spec(loader_plan)
    loader_plan.loader.exec_module(native)

    dll = str(package / "DVKCDLL.dll")
    assert native.candidates({}, "win32", str(package)) == [("bundled", dll), ("system", "DVKCDLL.dll")]
    chosen = {"DVKC_LIBRARY": r"C:\dvkc\DVKCDLL.dll"}
    assert native.candidates(chosen, "win32", str(package)) == [("DVKC_LIBRARY", r"C:\dvkc\DVKCDLL.dll")]
    os.unlink(dll)
    assert native.candidates({}, "win32", str(package)) == [("system", "DVKCDLL.dll")]
