#!/usr/bin/env python3
"""The build variables reach the build from the environment through scripts/configure.sh (the
configuration scripts/build.sh runs for every tree): a scratch native tree is configured with a
release key and a whole patch list address, and the values the compiler gets are read back from
the generated key source and from the preprocessed patch list source.

  test_configure.py --root SOURCE_DIR [unittest arguments...]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402


def source(*parts):
    """A path in the source tree under test."""
    return os.path.join(os.path.abspath(qrtest.OPTIONS.root), *parts)
DEMO_KEY = "tools/demo-keys/demo-release-key.pub.pem"


class ConfigureFromEnvironment(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="quorvel-configure-")
        cls.tree = os.path.join(cls.work, "native")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def configure(self, **variables):
        env = {k: v for k, v in os.environ.items()
               if k not in ("QUORVEL_RELEASE_PUBKEY", "QUORVEL_PATCH_LIST_ADDRESS", "QUORVEL_PATCH_HOST")}
        env.update(variables)
        return subprocess.run(["bash", source("scripts", "configure.sh"), "native", self.tree],
                              cwd=source(), env=env, capture_output=True, text=True)

    def compiled_address(self):
        """The string literals of patch/PatchList.cpp as the compiler gets it (preprocessed)."""
        built = subprocess.run(["make", "-C", os.path.join(self.tree, "patch"), "PatchList.cpp.i"],
                               capture_output=True, text=True)
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        with open(os.path.join(self.tree, "patch", "CMakeFiles", "qr_patch.dir", "PatchList.cpp.i"),
                  encoding="latin-1") as f:
            return [line.split('"')[1] for line in f if "/tzan/" in line and line.count('"') == 2]

    def built_in_key(self):
        with open(os.path.join(self.tree, "generated", "qr_release_key.cpp")) as f:
            return f.read()

    def test_key_and_whole_address_then_host_with_port_and_no_key(self):
        # The key named relative to the caller's directory, as an operator types it.
        done = self.configure(QUORVEL_RELEASE_PUBKEY=DEMO_KEY,
                              QUORVEL_PATCH_LIST_ADDRESS="https://patch.example.com:8443/tzan/patch.txt?v=2&x=%41")
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(source(DEMO_KEY)) as f:
            key_body = f.read().splitlines()[1]
        self.assertIn(key_body, self.built_in_key())
        self.assertIn("https://patch.example.com:8443/tzan/patch.txt?v=2&x=%41", self.compiled_address())

        # Set to nothing, a variable clears what the tree kept; the host then makes the address.
        done = self.configure(QUORVEL_RELEASE_PUBKEY="", QUORVEL_PATCH_LIST_ADDRESS="",
                              QUORVEL_PATCH_HOST="127.0.0.1:8000")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertNotIn(key_body, self.built_in_key())
        self.assertIn('BuiltInReleaseKeyPem() { return ""; }', self.built_in_key())
        self.assertIn("http://127.0.0.1:8000/tzan/patch.txt", self.compiled_address())

    def test_addresses_that_are_not_plain_web_addresses_are_refused(self):
        for address in ["ftp://patch.example.com/tzan/patch.txt", "patch.example.com/tzan/patch.txt",
                        "https://patch.example.com/tzan/patch list.txt", "http://user@patch.example.com/x",
                        'http://patch.example.com/x"y', "file:///etc/passwd", "HTTPS://patch.example.com/x",
                        "https://patch.example.com/x;rm", "https:///tzan/patch.txt", " https://patch.example.com/"]:
            with self.subTest(address=address):
                done = self.configure(QUORVEL_PATCH_LIST_ADDRESS=address)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn("is not an http:// or https:// address", done.stderr)
        done = self.configure(QUORVEL_PATCH_LIST_ADDRESS="", QUORVEL_PATCH_HOST="patch.example.com/evil path")
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("QUORVEL_PATCH_HOST", done.stderr)
        done = self.configure(QUORVEL_PATCH_HOST="patch.example.com", QUORVEL_RELEASE_PUBKEY="no/such/key.pem")
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("does not exist", done.stderr)



if __name__ == "__main__":
    qrtest.main(("--root", {"required": True}))
