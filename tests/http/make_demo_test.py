#!/usr/bin/env python3
"""Checks the demo data set: the server tree, published with quorvel-publish (QUORVEL_PUBLISH names
it), answers every name the patch description lists with the bytes its hash lines describe, is signed
with the demo key, and the comparison with the expected install catches faults."""

import configparser
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from qrtest import DEMO_PUBLIC_KEY, ROOT, digest_line  # noqa: E402

TOOL = os.path.join(ROOT, "tools", "make_demo.py")
BASE = "http://127.0.0.1:65535"


def make(out, *args):
    return subprocess.run([sys.executable, TOOL, out] + list(args), capture_output=True, text=True)


class MakeDemoTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.out = os.path.join(cls.tmp.name, "demo")
        result = make(cls.out, "--base-url", BASE + "/")
        assert result.returncode == 0, result.stderr
        cls.server = os.path.join(cls.out, "server")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def served(self, url):
        self.assertTrue(url.startswith(BASE + "/"), url)
        return os.path.join(self.server, *url[len(BASE) + 1:].split("/"))

    def patch_info(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.read(os.path.join(self.server, "tzan", "PatchInfo.ini"))
        return parser

    def test_patch_list_fits_the_examined_bytes_and_names_served_files(self):
        with open(os.path.join(self.server, "tzan", "patch.txt"), "rb") as f:
            data = f.read()
        self.assertLessEqual(len(data), 200)
        lines = data.decode("ascii").split("\n")
        values = [line.split("=", 1)[1] for line in lines[1:4]]
        self.assertTrue(os.path.isfile(self.served(values[0])))  # PatchInfo.ini
        with open(self.served(values[1]), encoding="utf-8") as f:
            self.assertIn("<html", f.read())
        self.assertTrue(os.path.isdir(self.served(values[2])))

    def test_every_listed_name_is_served_and_maps_only_as_bap(self):
        info = self.patch_info()
        self.assertEqual("103", info.get("VERSION", "version"))
        with open(os.path.join(self.server, "tzan", "patch.txt")) as f:
            base = self.served(f.read().split("\n")[3].split("=", 1)[1])
        seen, kinds = [], set()
        for version in ("100", "101", "102", "103"):
            names = [info.get(version, str(i)) for i in range(len(info.options(version)))]
            for i, name in enumerate(names):
                remote = name[:-4] + ".bap" if name.endswith(".map") else name
                self.assertTrue(os.path.isfile(os.path.join(base, *remote.split("/"))), remote)
                with open(os.path.join(base, *remote.split("/")), "rb") as f:
                    data = f.read()
                self.assertEqual(digest_line(data), info.get(version + ".sha256", str(i)), name)
                if name.endswith(".map"):
                    self.assertFalse(os.path.exists(os.path.join(base, *name.split("/"))), name)
                    kinds.add("map")
                if "/" in name and name.count("/") >= 2:
                    kinds.add("nested")
                if name in seen:
                    kinds.add("duplicate")
                seen.append(name)
        self.assertEqual({"map", "nested", "duplicate"}, kinds)

    def test_archives_are_deflated_and_land_what_their_contents_say(self):
        base = os.path.join(self.server, "tzan", "patch")
        zips = sorted(n for n in os.listdir(base) if n.endswith(".zip"))
        self.assertEqual(["patch102.zip", "patch103.zip"], zips)
        info = self.patch_info()
        nested = 0
        for name in zips:
            contents = dict(info.items(name[5:8] + ".contents"))
            with zipfile.ZipFile(os.path.join(base, name)) as zf:
                self.assertIsNone(zf.testzip())
                self.assertEqual(sorted(contents), sorted(zf.namelist()))
                for entry in zf.infolist():
                    self.assertEqual(zipfile.ZIP_DEFLATED, entry.compress_type)
                    data = zf.read(entry)
                    self.assertEqual(digest_line(data), contents[entry.filename])
                    nested += entry.filename.count("/") >= 1
        self.assertGreater(nested, 3)
        # The publisher moved readme.txt into 103's archive: 102's archive holds an older one.
        self.assertIn("readme.txt", dict(info.items("103.contents")))

    def test_the_description_is_signed_with_the_demo_key(self):
        tzan = os.path.join(self.server, "tzan")
        p = subprocess.run(["openssl", "dgst", "-sha256", "-verify", DEMO_PUBLIC_KEY, "-signature",
                            os.path.join(tzan, "PatchInfo.ini.sig"), os.path.join(tzan, "PatchInfo.ini")],
                           capture_output=True, text=True)
        self.assertEqual(0, p.returncode, p.stdout + p.stderr)

    def test_generation_is_repeatable(self):
        again = os.path.join(self.tmp.name, "again")
        self.assertEqual(0, make(again, "--base-url", BASE).returncode)
        for part in ("install", "server/tzan", "server/tzan/patch", "expected"):
            compared = filecmp.dircmp(os.path.join(self.out, part), os.path.join(again, part))
            # ECDSA signatures differ on every run; both are checked above and by the launcher.
            differences = [n for n in compared.diff_files if n != "PatchInfo.ini.sig"]
            self.assertEqual([], differences + compared.left_only + compared.right_only, part)

    def test_check_accepts_only_the_expected_install(self):
        install = os.path.join(self.tmp.name, "install")
        shutil.copytree(os.path.join(self.out, "expected"), install)
        with open(os.path.join(install, "VersionInfo.ini"), "w") as f:
            f.write("[VERSION]\nversion = 103\n")  # another layout of the same content
        self.assertEqual(0, make(self.out, "--check", install).returncode)

        with open(os.path.join(install, "patch.txt"), "w") as f:
            f.write("left behind")
        with open(os.path.join(install, "VersionInfo.ini"), "w") as f:
            f.write("[VERSION]\nversion=102\n")
        with open(os.path.join(install, "readme.txt"), "ab") as f:
            f.write(b"x")
        shutil.rmtree(os.path.join(install, "screenshots"))
        result = make(self.out, "--check", install)
        self.assertEqual(1, result.returncode)
        for text in ("unexpected: patch.txt", "version 102, expected 103", "different: readme.txt",
                     "missing: screenshots/"):
            self.assertIn(text, result.stdout)
        self.assertEqual(1, make(self.out, "--check", os.path.join(self.out, "install")).returncode)

    def test_refuses_a_base_address_too_long_for_the_patch_list(self):
        result = make(os.path.join(self.tmp.name, "long"), "--base-url", "http://" + "h" * 60 + ".example")
        self.assertNotEqual(0, result.returncode)
        self.assertIn("200 bytes", result.stderr)


if __name__ == "__main__":
    unittest.main()
