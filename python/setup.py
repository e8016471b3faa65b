"""Builds the extension with the project's CMake and puts it, with the module's two
libraries, inside the package, so that `pip install ./python` gives a self-contained
kvntfu (see docs/python.md)."""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        # A tree of its own beside the project's others, kept between installs so that a
        # second install rebuilds only what changed; KVNTFU_BUILD_TREE names another (an
        # existing release tree builds only the extension).
        tree = os.environ.get("KVNTFU_BUILD_TREE", os.path.join(ROOT, "build", "pip"))
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", tree, "-DCMAKE_BUILD_TYPE=Release", "-DKVNTF_TESTS=OFF",
            f"-DKVNTF_PYTHON={sys.executable}",
        ])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call(["cmake", "--build", tree, "-j", jobs, "--target", "kvntfu_python"])
        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)
        built = glob.glob(os.path.join(tree, "python", "kvntfu", "_core*.so"))
        libs = [p for n in ("libKvntfu.so.1", "libKvhost.so.1")
                for p in glob.glob(os.path.join(tree, "lib", n))]
        for path in built + libs:
            shutil.copy(path, target)


setup(ext_modules=[Extension("kvntfu._core", sources=[])], cmdclass={"build_ext": CMakeBuild})
