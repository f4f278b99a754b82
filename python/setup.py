"""Builds the extension mervox._mervox with the project's CMake build.

The version comes from the top-level CMakeLists.txt; the rest of the
package's description is in pyproject.toml. MERVOX_WHEEL_BUILD_DIR
moves setuptools' build and egg-info directories out of the source tree.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(mervox VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if not cmake:
            sys.exit("building mervox needs cmake (Debian package cmake)")
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            [cmake, "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
             f"-DPython3_EXECUTABLE={sys.executable}", "-DMERVOX_PYTHON_MODULE=ON",
             "-DMERVOX_BUILD_TESTS=OFF", "-DMERVOX_BUILD_BENCHMARKS=OFF"],
            check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run([cmake, "--build", str(build_dir), "--target", "mervox_python", "--parallel", jobs],
                       check=True)
        built = next((build_dir / "python" / "mervox").glob("_mervox*"), None)
        if built is None:
            sys.exit("CMake did not build the module: see why it was skipped in its output above")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


options = {}
if os.environ.get("MERVOX_WHEEL_BUILD_DIR"):
    base = pathlib.Path(os.environ["MERVOX_WHEEL_BUILD_DIR"]).resolve()
    base.mkdir(parents=True, exist_ok=True)
    options = {"build": {"build_base": str(base)}, "egg_info": {"egg_base": str(base)}}

setup(
    version=project_version(),
    ext_modules=[Extension("mervox._mervox", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options=options,
    zip_safe=False,
)
