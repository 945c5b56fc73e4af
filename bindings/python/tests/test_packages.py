"""The routes the README names, as a user takes them: the wheel installed
with pip into a fresh virtual environment, offline, then a whole query; the
sdist built into a wheel in a folder outside the source tree."""
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

import dvkc
import pytest

from conftest import required

TREE = Path(__file__).resolve().parents[3]

QUERY = """
import os, sys, dvkc
from dvkc import _native
port, trust, identity = int(sys.argv[1]), sys.argv[2], sys.argv[3]
q = dvkc.Query([("SN-0001", "A123"), ("DEV42-7781", "WIFI-HOME")])
document = q.build(42, identity)
q.parse(q.exchange("127.0.0.1", port, trust, "/dvk", q.envelope(document, b"signature"), timeout=60))
print(dvkc.__version__, _native.library()._name, *q.codes())
"""


def clean_environment():
    """The environment without anything that points Python or the loader
    elsewhere."""
    drop = ("PYTHONPATH", "PYTHONHOME", "LD_LIBRARY_PATH", "DVKC_LIBRARY", "PIP_FIND_LINKS", "PIP_INDEX_URL")
    return {**{k: v for k, v in os.environ.items() if k not in drop}, "PYTHONNOUSERSITE": "1"}


def outside_the_tree():
    folder = Path(tempfile.mkdtemp(prefix="dvkc-python-"))
    assert TREE not in folder.resolve().parents
    return folder


def test_wheel_into_a_fresh_venv_then_a_whole_query(service, tmp_path):
    port, trust = service
    wheel = required("DVKC_WHEEL")
    identity = tmp_path / "identity.bin"
    identity.write_bytes(b"identity of the venv host\n")
    env = clean_environment()
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], env=env, check=True)
    python = str(venv / "bin" / "python")
    subprocess.run(
        [python, "-m", "pip", "install", "--no-index", "--no-cache-dir", "--disable-pip-version-check", "--quiet", wheel],
        env=env,
        check=True,
    )
    shown = subprocess.run(
        [python, "-c", QUERY, str(port), str(trust), str(identity)],
        env=env,
        cwd=tmp_path,
        capture_output=True,
        text=True,
        check=True,
    ).stdout.split()
    version, library, *codes = shown
    assert version == dvkc.__version__ and Path(wheel).name.startswith(f"dvkc-{version}-py3-none-")
    assert Path(library).parent.parent.name == "site-packages" and str(venv) in library
    assert Path(library).name == "libdvkc.so.1"
    assert [int(c) for c in codes] == [sum(sn.encode()) % 1000 for sn in ("SN-0001", "DEV42-7781")]


def test_the_sdist_builds_a_wheel_outside_the_tree():
    sdist = Path(required("DVKC_SDIST"))
    folder = outside_the_tree()
    try:
        with tarfile.open(sdist) as archive:
            archive.extractall(folder)  # made by this build
        source = folder / sdist.name.removesuffix(".tar.gz")
        subprocess.run(
            [sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", str(folder / "dist"), str(source)],
            env=clean_environment(),
            cwd=folder,
            check=True,
            capture_output=True,
        )
        (wheel,) = (folder / "dist").iterdir()
        assert wheel.name == f"dvkc-{dvkc.__version__}-py3-none-any.whl"
        with zipfile.ZipFile(wheel) as built:
            names = set(built.namelist())
            assert {"dvkc/_results.py", "dvkc/_version.py", "dvkc/py.typed", "dvkc/_native.py"} <= names
            assert not {"dvkc/libdvkc.so.1", "dvkc/DVKCDLL.dll"} & names
            assert built.read("dvkc/_results.py") == (source / "dvkc" / "_results.py").read_bytes()
            assert b"Root-Is-Purelib: true" in built.read(f"dvkc-{dvkc.__version__}.dist-info/WHEEL")
    finally:
        shutil.rmtree(folder)


def test_the_linux_wheel_holds_the_library_under_its_tag():
    with zipfile.ZipFile(required("DVKC_WHEEL")) as wheel:
        names = set(wheel.namelist())
        assert "dvkc/libdvkc.so.1" in names and "dvkc/DVKCDLL.dll" not in names
        assert wheel.read("dvkc/libdvkc.so.1")[:4] == b"\x7fELF"
        tags = wheel.read(f"dvkc-{dvkc.__version__}.dist-info/WHEEL").decode()
        assert "Root-Is-Purelib: false" in tags and "Tag: py3-none-linux_x86_64" in tags.splitlines()


@pytest.mark.parametrize("missing", ["_results.py", "_version.py"])
def test_the_package_folder_needs_its_written_files(missing, tmp_path):
    source = tmp_path / "package"
    subprocess.run(
        [sys.executable, str(TREE / "bindings" / "python" / "make_packages.py"), "stage", str(source)], check=True
    )
    (source / "dvkc" / missing).unlink()
    built = subprocess.run(
        [sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", str(tmp_path), str(source)],
        capture_output=True,
        text=True,
    )
    assert built.returncode != 0 and f"{missing} missing" in built.stdout + built.stderr
