"""The dvkc package, from this folder alone: the sources, with
dvkc/_results.py and dvkc/_version.py written in when the package was staged
(make_packages.py), so an sdist builds anywhere.

A platform wheel carries the native library: with DVKC_NATIVE_LIBRARY set to
libdvkc.so.1 or DVKCDLL.dll and DVKC_WHEEL_PLATFORM to the wheel's platform
tag (linux_x86_64, win_amd64, win32), the library goes into the package under
its platform's name and the wheel is tagged py3-none-<platform>. Without
them the wheel is py3-none-any and the package uses DVKC_LIBRARY or the
system's library.
"""
import os
import re
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
GENERATED = ("_results.py", "_version.py")

missing = [name for name in GENERATED if not (HERE / "dvkc" / name).is_file()]
if missing:
    raise SystemExit(
        f"dvkc: {', '.join(missing)} missing: build the package from a staged copy "
        "(bindings/python/make_packages.py, or the CMake target python_packages)"
    )

LIBRARY = os.environ.get("DVKC_NATIVE_LIBRARY")
PLATFORM = os.environ.get("DVKC_WHEEL_PLATFORM")
if bool(LIBRARY) != bool(PLATFORM):
    raise SystemExit("dvkc: DVKC_NATIVE_LIBRARY and DVKC_WHEEL_PLATFORM go together")


class BuildWithLibrary(build_py):
    """build_py that also puts the native library into the package."""

    def run(self):
        super().run()
        if LIBRARY:
            name = "DVKCDLL.dll" if PLATFORM.startswith("win") else "libdvkc.so.1"
            shutil.copyfile(LIBRARY, Path(self.build_lib) / "dvkc" / name)


class BinaryDistribution(Distribution):
    """A distribution whose wheel is a platform's: the library is code."""

    def has_ext_modules(self):
        return True


commands = {"build_py": BuildWithLibrary}
if PLATFORM:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        """A wheel for one platform, for any Python 3: the package is ctypes
        only, the library it carries is the platform's."""

        def get_tag(self):
            return ("py3", "none", PLATFORM)

    commands["bdist_wheel"] = PlatformWheel

VERSION = re.search(r'__version__ = "([^"]+)"', (HERE / "dvkc" / "_version.py").read_text(encoding="utf-8"))
setup(
    version=VERSION.group(1),
    packages=["dvkc"],
    package_data={"dvkc": ["py.typed"]},
    cmdclass=commands,
    distclass=BinaryDistribution if PLATFORM else Distribution,
)
