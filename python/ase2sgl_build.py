# SPDX-License-Identifier: MIT
"""The build backend of `pip install .` (PEP 517), with the standard library
alone: CMake builds the compiled module for the Python that runs this backend,
and the wheel (a zip file: the package, then its .dist-info with METADATA, WHEEL
and RECORD) is written here.

CMake options can be passed as config settings:
    pip install . --config-settings=cmake.args="-DCMAKE_CXX_COMPILER=clang++"
"""

import base64
import hashlib
import os
import pathlib
import shlex
import subprocess
import sys
import sysconfig
import tempfile
import tomllib
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[1]


def _project():
    with open(ROOT / "pyproject.toml", "rb") as file:
        return tomllib.load(file)["project"]


def _tag():
    """The wheel tag of this interpreter: cp311-cp311-linux_x86_64."""
    interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    abi = interpreter + getattr(sys, "abiflags", "")
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{abi}-{platform}"


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"License: {project['license']['text']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {r}; extra == "{extra}"' for r in requirements]
    return "\n".join(lines) + "\n"


def _build_module(config_settings, build):
    """Configures and builds the module target in the folder `build`; gives the
    folder holding the package (ase2sgl/__init__.py and ase2sgl/_ase2sgl*.so)."""
    extra = shlex.split((config_settings or {}).get("cmake.args", ""))
    configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DASE2SGL_TESTS=OFF",
                 "-DASE2SGL_SGLTOOL=OFF", "-DASE2SGL_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}", *extra]
    subprocess.run(configure, check=True, stdout=sys.stderr)
    jobs = str(os.cpu_count() or 1)
    subprocess.run(["cmake", "--build", str(build), "--target", "ase2sgl_python", "-j", jobs], check=True,
                   stdout=sys.stderr)
    package = build / "python"
    if not list((package / "ase2sgl").glob("_ase2sgl*")):
        raise RuntimeError("the Python module was not built: CMake needs python3-dev and pybind11-dev")
    return package


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    name = f"{project['name']}-{project['version']}-{_tag()}.whl"
    info = f"{project['name']}-{project['version']}.dist-info"
    # The CMake build goes once the module's bytes are read: a wheel built leaves no
    # build folder behind in the temporary folder.
    with tempfile.TemporaryDirectory(prefix="ase2sgl-wheel-") as build:
        package = _build_module(config_settings, pathlib.Path(build))
        files = [(f"ase2sgl/{path.name}", path.read_bytes()) for path in sorted((package / "ase2sgl").iterdir())
                 if path.name == "__init__.py" or path.name.startswith("_ase2sgl")]
    files.append((f"{info}/METADATA", _metadata(project).encode()))
    wheel = f"Wheel-Version: 1.0\nGenerator: ase2sgl_build\nRoot-Is-Purelib: false\nTag: {_tag()}\n"
    files.append((f"{info}/WHEEL", wheel.encode()))
    files.append((f"{info}/LICENSE", (ROOT / "LICENSE").read_bytes()))
    record = "\n".join(_record_line(n, d) for n, d in files) + f"\n{info}/RECORD,,\n"
    files.append((f"{info}/RECORD", record.encode()))
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / name, "w", zipfile.ZIP_DEFLATED) as archive:
        for file_name, data in files:
            archive.writestr(file_name, data)
    return name


def get_requires_for_build_wheel(config_settings=None):
    return []
