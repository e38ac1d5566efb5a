# The Python module: the converter's core in src/, compiled with pybind11 behind python/_core.cpp,
# and the package in python/orbitcsv. The version is the project's, from CMakeLists.txt.
import re
import sys
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

here = Path(__file__).resolve().parent
version = re.search(r"project\(orbitcsv VERSION ([0-9.]+)", (here / "CMakeLists.txt").read_text()).group(1)

# Every source of src/ but the program's entry and the other system's platform layer.
other_platform = "platform_posix.cpp" if sys.platform == "win32" else "platform_windows.cpp"
core = sorted(path.name for path in (here / "src").glob("*.cpp") if path.name not in ("main.cpp", other_platform))

setup(
    version=version,
    package_dir={"": "python"},
    packages=["orbitcsv"],
    # The types, for type checkers (PEP 561): the package's own and the compiled core's.
    package_data={"orbitcsv": ["py.typed", "_core.pyi"]},
    ext_modules=[
        Pybind11Extension(
            "orbitcsv._core",
            ["python/_core.cpp", "python/module_memory.cpp", *(f"src/{name}" for name in core)],
            include_dirs=["src", "python"],
            define_macros=[("ORBITCSV_VERSION", f'"{version}"')],
            libraries=["shell32"] if sys.platform == "win32" else [],
            cxx_std=20,
        )
    ],
)
