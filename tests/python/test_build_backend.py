"""The package's own build backend: the wheel and the source archive it
writes, checked the way pip and the wheel format read them."""

import base64
import hashlib
import importlib.util
import os
import re
import tarfile
import tempfile
import unittest
import zipfile

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir))
PROJECT = os.path.join(SOURCE, "bindings", "python")


def load_backend(project):
    spec = importlib.util.spec_from_file_location(
        "quorlina_build_%d" % id(project), os.path.join(project, "build_backend", "quorlina_build.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def header_version():
    with open(os.path.join(SOURCE, "include", "quorlina", "quorlina.h"), encoding="utf-8") as f:
        return re.search(r'^#define QUORLINA_VERSION "([^"]*)"', f.read(), re.M).group(1)


class WheelTest(unittest.TestCase):
    def setUp(self):
        self.backend = load_backend(PROJECT)
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def build(self, subdir):
        target = os.path.join(self.tmp.name, subdir)
        os.mkdir(target)
        return os.path.join(target, self.backend.build_wheel(target))

    def test_wheel_holds_the_package_and_a_record_that_matches_it(self):
        version = header_version()
        path = self.build("a")
        self.assertEqual(os.path.basename(path), "quorlina-%s-py3-none-any.whl" % version)
        with zipfile.ZipFile(path) as wheel:
            names = wheel.namelist()
            dist_info = "quorlina-%s.dist-info" % version
            for required in ("quorlina/__init__.py", "quorlina/site.py", "quorlina/py.typed",
                             "quorlina/_version.py", dist_info + "/METADATA", dist_info + "/WHEEL",
                             dist_info + "/RECORD"):
                self.assertIn(required, names)
            self.assertFalse([n for n in names if "__pycache__" in n or n.endswith(".pyc")])
            self.assertIn('version = "%s"' % version, wheel.read("quorlina/_version.py").decode())
            metadata = wheel.read(dist_info + "/METADATA").decode()
            self.assertIn("\nVersion: %s\n" % version, metadata)
            self.assertIn("Name: quorlina\n", metadata)
            self.assertIn("Root-Is-Purelib: true", wheel.read(dist_info + "/WHEEL").decode())
            # Every member but RECORD itself is listed with its size and hash.
            rows = [r.split(",") for r in wheel.read(dist_info + "/RECORD").decode().splitlines()]
            self.assertEqual(sorted(r[0] for r in rows), sorted(names))
            for name, digest, size in rows:
                if name == dist_info + "/RECORD":
                    self.assertEqual((digest, size), ("", ""))
                    continue
                data = wheel.read(name)
                want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
                self.assertEqual(digest, "sha256=" + want, name)
                self.assertEqual(int(size), len(data), name)

    def test_two_builds_give_the_same_bytes(self):
        with open(self.build("a"), "rb") as a, open(self.build("b"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_build_from_the_source_archive_keeps_the_version(self):
        sdist = self.backend.build_sdist(self.tmp.name)
        with tarfile.open(os.path.join(self.tmp.name, sdist)) as tar:
            tar.extractall(os.path.join(self.tmp.name, "unpacked"))
        unpacked = os.path.join(self.tmp.name, "unpacked", sdist[:-len(".tar.gz")])
        # Outside the source tree there is no header: PKG-INFO holds the version.
        self.assertFalse(os.path.exists(os.path.join(unpacked, os.pardir, os.pardir, "include")))
        backend = load_backend(unpacked)
        target = os.path.join(self.tmp.name, "from-sdist")
        os.mkdir(target)
        wheel = backend.build_wheel(target)
        self.assertEqual(wheel, "quorlina-%s-py3-none-any.whl" % header_version())

    def test_a_header_whose_version_texts_disagree_is_refused(self):
        text = ('#define QUORLINA_VERSION_MAJOR 0\n#define QUORLINA_VERSION_MINOR 3\n'
                '#define QUORLINA_VERSION_PATCH 0\n#define QUORLINA_VERSION "0.2.0"\n')
        with self.assertRaises(RuntimeError):
            self.backend._version_from_header(text)
        self.assertEqual(self.backend._version_from_header(text.replace('"0.2.0"', '"0.3.0"')), "0.3.0")


class PackageVersionTest(unittest.TestCase):
    def test_the_package_in_the_source_tree_gives_the_header_version(self):
        import quorlina
        self.assertEqual(quorlina.__version__, header_version())


if __name__ == "__main__":
    unittest.main()
