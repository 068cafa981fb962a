"""Builds the wheel from the CMake build: the module kestrune._kestrune and
the library it links are made by the project's build (KESTRUNE_BUILD_DIR,
default build/ of the project, configured here when missing) and installed
into the wheel by `cmake --install --component python`, the module's RUNPATH
set to $ORIGIN so that it finds the library beside it, whatever the venv.
The source distribution holds the Python files only and the path of the
project it came from, where a wheel made from it takes the module."""
import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

HERE = Path(__file__).resolve().parent
RECORDED = HERE / "project-root.txt"  # in a source distribution
ROOT = Path(os.environ.get("KESTRUNE_SOURCE_DIR") or
            (RECORDED.read_text().strip() if RECORDED.exists() else HERE.parent))


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Kestrune VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(os.environ.get("KESTRUNE_BUILD_DIR", ROOT / "build")).resolve()
        cache = build / "CMakeCache.txt"
        if not cache.exists():  # a build of the library and the module alone
            subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                                   "-DKESTRUNE_BUILD_APP=OFF", "-DKESTRUNE_BUILD_TESTS=OFF",
                                   "-DKESTRUNE_BUILD_BENCH=OFF", "-DKESTRUNE_BUILD_PYTHON=ON",
                                   f"-DPython_EXECUTABLE={sys.executable}"])
        elif "KESTRUNE_BUILD_PYTHON:BOOL=ON" not in cache.read_text():  # made without the module
            subprocess.check_call(["cmake", str(build), "-DKESTRUNE_BUILD_PYTHON=ON"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.check_call(["cmake", "--build", str(build), "--target", "kestrune_python", "-j", jobs])
        # The package folder of the module's full path, whose parent is the prefix.
        prefix = Path(self.get_ext_fullpath(ext.name)).resolve().parent.parent
        subprocess.check_call(["cmake", "--install", str(build), "--component", "python", "--prefix", str(prefix)])
        built = prefix / "kestrune" / Path(self.get_ext_fullpath(ext.name)).name
        if not built.exists():
            sys.exit(f"setup.py: {built.name} not made: the build's Python is not {sys.executable}")


class RecordingSdist(sdist):
    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        (Path(base_dir) / RECORDED.name).write_text(f"{ROOT}\n")


setup(
    version=project_version(),
    ext_modules=[Extension("kestrune._kestrune", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "sdist": RecordingSdist},
    zip_safe=False,
)
