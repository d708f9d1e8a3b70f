"""The build backend of the quorlina package (PEP 517 and PEP 660).

It writes the wheel with the standard library alone, so that
``pip install --no-build-isolation bindings/python`` works offline in a
fresh virtual environment, which has no wheel package and, from Python 3.12
on, no setuptools either. The
package is pure Python: the wheel holds the ``quorlina`` directory, a
generated ``quorlina/_version.py`` and the ``.dist-info`` metadata.

The version is the library's, read from ``include/quorlina/quorlina.h`` in
the source tree (the one place it is written). A source distribution keeps
it in ``PKG-INFO``, which a build from that archive reads instead.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from typing import Dict, List, Optional, Tuple

NAME = "quorlina"
SUMMARY = "Python binding of libquorlina_ffi: the snippets, posts and notes of a static site"
REQUIRES_PYTHON = ">=3.8"
CLASSIFIERS = ["Typing :: Typed"]

_PROJECT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_HEADER = os.path.join(_PROJECT, os.pardir, os.pardir, "include", "quorlina", "quorlina.h")
_PACKAGE = os.path.join(_PROJECT, NAME)
# A fixed time for every archive member, so that two builds of one tree
# give the same bytes (the earliest time a zip file can hold).
_EPOCH = (1980, 1, 1, 0, 0, 0)


def _version_from_header(text: str) -> str:
    numbers = []
    for part in ("MAJOR", "MINOR", "PATCH"):
        m = re.search(r"^#define QUORLINA_VERSION_%s (\d+)\s*$" % part, text, re.M)
        if not m:
            raise RuntimeError("quorlina.h defines no QUORLINA_VERSION_%s" % part)
        numbers.append(m.group(1))
    version = ".".join(numbers)
    m = re.search(r'^#define QUORLINA_VERSION "([^"]*)"', text, re.M)
    if not m or m.group(1) != version:
        raise RuntimeError("QUORLINA_VERSION in quorlina.h disagrees with its three numbers (%s)" % version)
    return version


def version() -> str:
    """The package version: the header's, else the one in PKG-INFO."""
    if os.path.isfile(_HEADER):
        with open(_HEADER, encoding="utf-8") as f:
            return _version_from_header(f.read())
    pkg_info = os.path.join(_PROJECT, "PKG-INFO")
    if os.path.isfile(pkg_info):
        with open(pkg_info, encoding="utf-8") as f:
            m = re.search(r"^Version: (\S+)$", f.read(), re.M)
        if m:
            return m.group(1)
    raise RuntimeError("cannot find the version: neither %s nor PKG-INFO exists" % os.path.normpath(_HEADER))


def _metadata(ver: str) -> str:
    lines = ["Metadata-Version: 2.1", "Name: " + NAME, "Version: " + ver, "Summary: " + SUMMARY,
             "Requires-Python: " + REQUIRES_PYTHON]
    lines += ["Classifier: " + c for c in CLASSIFIERS]
    return "\n".join(lines) + "\n"


def _wheel_file() -> str:
    return "Wheel-Version: 1.0\nGenerator: quorlina_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"


def _package_files() -> List[Tuple[str, str]]:
    """(archive name, file path) of every file of the package, sorted."""
    files = []
    for directory, subdirs, names in os.walk(_PACKAGE):
        subdirs[:] = sorted(d for d in subdirs if d != "__pycache__")
        for name in sorted(names):
            if name.endswith((".pyc", ".pyo")) or name == "_version.py":
                continue
            path = os.path.join(directory, name)
            files.append((os.path.relpath(path, _PROJECT).replace(os.sep, "/"), path))
    return files


def _version_module(ver: str) -> bytes:
    return ('"""The package version, written when the wheel was built."""\n\nversion = "%s"\n' % ver).encode()


class _Wheel:
    """A wheel being written: each member is recorded for RECORD."""

    def __init__(self, path: str) -> None:
        self._zip = zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED)
        self._record: List[str] = []

    def add(self, name: str, data: bytes) -> None:
        info = zipfile.ZipInfo(name, _EPOCH)
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self._zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        self._record.append("%s,sha256=%s,%d" % (name, digest, len(data)))

    def close(self, dist_info: str) -> None:
        record = dist_info + "/RECORD"
        self._record.append(record + ",,")
        info = zipfile.ZipInfo(record, _EPOCH)
        info.external_attr = 0o644 << 16
        self._zip.writestr(info, "\n".join(self._record) + "\n")
        self._zip.close()


def _write_dist_info(target: str, ver: str) -> str:
    dist_info = "%s-%s.dist-info" % (NAME, ver)
    os.makedirs(os.path.join(target, dist_info), exist_ok=True)
    for name, text in (("METADATA", _metadata(ver)), ("WHEEL", _wheel_file()), ("top_level.txt", NAME + "\n")):
        with open(os.path.join(target, dist_info, name), "w", encoding="utf-8") as f:
            f.write(text)
    return dist_info


def _build(wheel_directory: str, editable: bool) -> str:
    ver = version()
    dist_info = "%s-%s.dist-info" % (NAME, ver)
    filename = "%s-%s-py3-none-any.whl" % (NAME, ver)
    wheel = _Wheel(os.path.join(wheel_directory, filename))
    if editable:
        # The source directory goes on sys.path; its package has no
        # _version.py, so it reads the version from the header as well.
        wheel.add(NAME + "_editable.pth", (_PROJECT + "\n").encode())
    else:
        for name, path in _package_files():
            with open(path, "rb") as f:
                wheel.add(name, f.read())
        wheel.add(NAME + "/_version.py", _version_module(ver))
    wheel.add(dist_info + "/METADATA", _metadata(ver).encode())
    wheel.add(dist_info + "/WHEEL", _wheel_file().encode())
    wheel.add(dist_info + "/top_level.txt", (NAME + "\n").encode())
    wheel.close(dist_info)
    return filename


# ------------------------------------------------------------ PEP 517 hooks

def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[Dict[str, str]] = None) -> str:
    return _write_dist_info(metadata_directory, version())


def prepare_metadata_for_build_editable(metadata_directory: str,
                                        config_settings: Optional[Dict[str, str]] = None) -> str:
    return _write_dist_info(metadata_directory, version())


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    return _build(wheel_directory, editable=False)


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    return _build(wheel_directory, editable=True)


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    ver = version()
    base = "%s-%s" % (NAME, ver)
    filename = base + ".tar.gz"
    members: List[Tuple[str, bytes]] = [("PKG-INFO", _metadata(ver).encode())]
    for name in ("pyproject.toml",):
        with open(os.path.join(_PROJECT, name), "rb") as f:
            members.append((name, f.read()))
    backend_dir = os.path.dirname(os.path.abspath(__file__))
    for name in sorted(os.listdir(backend_dir)):
        if name.endswith(".py"):
            with open(os.path.join(backend_dir, name), "rb") as f:
                members.append(("build_backend/" + name, f.read()))
    for name, path in _package_files():
        with open(path, "rb") as f:
            members.append((name, f.read()))
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for name, data in members:
            info = tarfile.TarInfo(base + "/" + name)
            info.size = len(data)
            info.mode = 0o644
            info.mtime = 315532800  # 1980-01-01, as in the wheel
            tar.addfile(info, io.BytesIO(data))
    return filename
