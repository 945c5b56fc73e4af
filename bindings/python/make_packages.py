#!/usr/bin/env python3
"""Makes the Python packages of dvkc with Debian's setuptools and build,
offline (python3 -m build --no-isolation).

    make_packages.py linux --library LIB --outdir DIR
        the sdist and the Linux wheel carrying LIB as libdvkc.so.1
    make_packages.py windows --x64 DLL --x86 DLL --outdir DIR
        the win_amd64 and win32 wheels, each carrying its DVKCDLL.dll
    make_packages.py stage DIR
        the package's folder as it goes into an sdist, without building

Options of all three: --header (default include/dvkc.h of this tree), from
which dvkc/_results.py is made, and --version (default the project's, from
CMakeLists.txt), written into dvkc/_version.py. Each package is built from a
fresh copy of bindings/python with those two files in it, so the source
folder stays as it is and the sdist needs nothing beside itself.
"""
import argparse
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
TREE = HERE.parent.parent
# What goes into the package's folder: the rest of bindings/python (tests,
# this script) is the tree's.
PACKAGE_FILES = ("pyproject.toml", "setup.py", "README.md")


def project_version():
    text = (TREE / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*dvkc\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise SystemExit("make_packages.py: no project version in CMakeLists.txt (give --version)")
    return match.group(1)


def stage(target, header, version):
    """bindings/python's package folder copied to `target`, with
    dvkc/_results.py from `header` and dvkc/_version.py."""
    loader_plan = importlib.util.spec_from_file_location("results_table", HERE.parent / "results_table.py")
    table = importlib.util.module_from_spec(loader_plan)
    loader_plan.loader.exec_module(table)
    rows = table.parse(Path(header).read_text(encoding="latin-1"))

    target = Path(target)
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir(parents=True)
    for name in PACKAGE_FILES:
        shutil.copy2(HERE / name, target / name)
    if (TREE / "LICENSE").is_file():
        shutil.copy2(TREE / "LICENSE", target / "LICENSE")
    shutil.copytree(HERE / "dvkc", target / "dvkc", ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
    for name in ("_results.py", "_version.py", "libdvkc.so.1", "DVKCDLL.dll"):
        (target / "dvkc" / name).unlink(missing_ok=True)
    (target / "dvkc" / "_results.py").write_text(table.python_source(rows), encoding="utf-8")
    (target / "dvkc" / "_version.py").write_text(
        f'"""The version of dvkc this package was made from."""\n\n__version__ = "{version}"\n',
        encoding="utf-8",
    )
    return target


def python_build(source, outdir, kind, library=None, platform=None):
    environment = dict(os.environ)
    for name in ("DVKC_NATIVE_LIBRARY", "DVKC_WHEEL_PLATFORM"):
        environment.pop(name, None)
    if library:
        environment["DVKC_NATIVE_LIBRARY"] = str(Path(library).resolve())
        environment["DVKC_WHEEL_PLATFORM"] = platform
    subprocess.run(
        [sys.executable, "-m", "build", "--no-isolation", f"--{kind}", "--outdir", str(outdir), str(source)],
        env=environment,
        check=True,
        stdout=subprocess.DEVNULL,
    )


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--header", default=str(TREE / "include" / "dvkc.h"))
    parser.add_argument("--version")
    commands = parser.add_subparsers(dest="command", required=True)
    linux = commands.add_parser("linux")
    linux.add_argument("--library", required=True)
    linux.add_argument("--outdir", required=True)
    windows = commands.add_parser("windows")
    windows.add_argument("--x64", required=True)
    windows.add_argument("--x86", required=True)
    windows.add_argument("--outdir", required=True)
    staged = commands.add_parser("stage")
    staged.add_argument("target")
    args = parser.parse_args(argv)
    version = args.version or project_version()

    if args.command == "stage":
        stage(args.target, args.header, version)
        return 0
    outdir = Path(args.outdir).resolve()
    outdir.mkdir(parents=True, exist_ok=True)
    if args.command == "linux":
        wheels = [(args.library, sysconfig.get_platform().replace("-", "_").replace(".", "_"))]
    else:
        wheels = [(args.x64, "win_amd64"), (args.x86, "win32")]
    for library, _ in wheels:
        if not Path(library).is_file():
            raise SystemExit(f"make_packages.py: no library at {library}")
    for name in os.listdir(outdir):
        if name.startswith("dvkc-") and name.endswith((".whl", ".tar.gz")):
            os.unlink(outdir / name)
    with tempfile.TemporaryDirectory(prefix="dvkc-packages-") as work:
        if args.command == "linux":
            python_build(stage(Path(work) / "sdist", args.header, version), outdir, "sdist")
        for library, platform in wheels:
            source = stage(Path(work) / platform, args.header, version)
            python_build(source, outdir, "wheel", library, platform)
    for name in sorted(os.listdir(outdir)):
        print(f"make_packages.py: {outdir / name} ({(outdir / name).stat().st_size} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
