"""The wheel's build backend (PEP 517), small and offline: CMake builds the
module as the default build does, and the wheel is zipped here from the
package's files. Needs only what the build needs, and Debian's python3-build
to drive it:

    python3 -m build --wheel --no-isolation

The wheel's bytes depend only on the source and the compiler: its entries
carry SOURCE_DATE_EPOCH (or 1980-01-01) as their time.
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
import zipfile
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
NAME = "ota_image"
FILES = ("__init__.py", "__init__.pyi", "py.typed")


def _version():
    text = (TOP / "CMakeLists.txt").read_text()
    return re.search(r"project\(image_gen_header VERSION ([0-9.]+)", text).group(1)


def _tag():
    python = "cp%d%d" % sys.version_info[:2]
    return "%s-%s-%s" % (python, python, sysconfig.get_platform().replace("-", "_").replace(".", "_"))


def _dist_info():
    return "%s-%s.dist-info" % (NAME, _version())


def _metadata():
    return ("Metadata-Version: 2.1\nName: %s\nVersion: %s\n"
            "Summary: Pack raw flash images into OTA files, and verify and unpack OTA files\n"
            "License: Apache-2.0\nRequires-Python: ==%d.%d.*\n" % ((NAME, _version()) + sys.version_info[:2]))


def _wheel_file():
    return "Wheel-Version: 1.0\nGenerator: ota_image build_backend\nRoot-Is-Purelib: false\nTag: %s\n" % _tag()


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    folder = Path(metadata_directory) / _dist_info()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "METADATA").write_text(_metadata())
    (folder / "WHEEL").write_text(_wheel_file())
    return folder.name


def _built_module():
    """Builds the module in a folder of its own; returns the package's folder there."""
    build = Path(tempfile.mkdtemp(prefix="ota_image-wheel-"))
    configure = ["cmake", "-S", str(TOP), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DOTA_BUILD_TESTS=OFF",
                 "-DPython_EXECUTABLE=" + sys.executable]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", "_ota_image"], check=True)
    return build, build / "python" / NAME


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    build, package = _built_module()
    try:
        modules = sorted(package.glob("_ota_image*" + sysconfig.get_config_var("EXT_SUFFIX")))
        if len(modules) != 1:
            raise RuntimeError("the build made no single _ota_image module in %s" % package)
        entries = [(NAME + "/" + name, (package / name).read_bytes()) for name in FILES]
        entries.append((NAME + "/" + modules[0].name, modules[0].read_bytes()))
        dist_info = _dist_info()
        entries.append((dist_info + "/METADATA", _metadata().encode()))
        entries.append((dist_info + "/WHEEL", _wheel_file().encode()))
        entries.append((dist_info + "/LICENSE", (TOP / "LICENSE").read_bytes()))
        record = "".join("%s,sha256=%s,%d\n" % (name, base64.urlsafe_b64encode(hashlib.sha256(data).digest())
                                                .rstrip(b"=").decode(), len(data)) for name, data in entries)
        entries.append((dist_info + "/RECORD", (record + dist_info + "/RECORD,,\n").encode()))
        when = time.gmtime(max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800))[:6]
        wheel_name = "%s-%s-%s.whl" % (NAME, _version(), _tag())
        with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
            for name, data in entries:
                info = zipfile.ZipInfo(name, when)
                info.external_attr = (0o755 if name.endswith(".so") else 0o644) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(info, data)
        return wheel_name
    finally:
        shutil.rmtree(build)
