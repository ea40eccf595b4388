#!/usr/bin/env python3
"""scripts/demo-window.sh with a launcher built for an operator's key: the demo release (signed with
the demo key) would be refused, so the script must stop at once with the reason, start nothing and
leave the demo install as it was. Runs a copy of the scripts beside a stand-in build tree.

  test_demo_window.py --root SOURCE_DIR
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
OTHER_KEY = ("-----BEGIN PUBLIC KEY-----\\nMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
             "\\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA==\\n-----END PUBLIC KEY-----\\n")


class DemoWindowWithAnOperatorsKey(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="quorvel-demo-window-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.root = os.path.join(self.work, "src")
        shutil.copytree(source("scripts"), os.path.join(self.root, "scripts"))
        shutil.copytree(source("tools", "demo-keys"), os.path.join(self.root, "tools", "demo-keys"))
        # Past its checks the script turns to Wine: a stand-in ends it there, so nothing of Wine runs.
        with open(os.path.join(self.root, "scripts", "wine-env.sh"), "w") as f:
            f.write('echo "demo-window test: Wine reached" >&2\nexit 99\n')
        win64 = os.path.join(self.root, "build", "win64")
        for exe in ("app/QuorvelLauncher.exe", "tools/standin-game/QuorvelStandinGame.exe"):
            os.makedirs(os.path.dirname(os.path.join(win64, exe)), exist_ok=True)
            with open(os.path.join(win64, exe), "wb") as f:
                f.write(b"MZ stand-in")
        os.makedirs(os.path.join(win64, "generated"))
        self.key_source = os.path.join(win64, "generated", "qr_release_key.cpp")
        self.demo = os.path.join(self.work, "demo")
        self.install = os.path.join(self.demo, "install")
        os.makedirs(self.install)
        with open(os.path.join(self.install, "QuorvelRPG.bin"), "w") as f:
            f.write("the demo game\n")

    def write_key(self, pem_literal):
        with open(self.key_source, "w") as f:
            f.write('#include "patch/ReleaseKey.h"\n\nnamespace qr {\n\n'
                    'const char* BuiltInReleaseKeyPem() { return "%s"; }\n\n}  // namespace qr\n' % pem_literal)

    def run_demo(self):
        env = dict(os.environ, QUORVEL_DEMO_PATCH_LIST="http://127.0.0.1:9/tzan/patch.txt",
                   QUORVEL_DEMO_DIR=self.demo, QUORVEL_DEMO_INSTALL=self.install)
        return subprocess.run(["bash", os.path.join(self.root, "scripts", "demo-window.sh")], env=env,
                              capture_output=True, text=True, timeout=120)

    def test_stops_with_the_reason_and_leaves_the_install_alone(self):
        self.write_key(OTHER_KEY)
        done = self.run_demo()
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("not the demo", done.stderr)
        self.assertIn("QUORVEL_RELEASE_PUBKEY=", done.stderr)
        self.assertNotIn("starting the launcher", done.stdout)
        with open(os.path.join(self.install, "QuorvelRPG.bin")) as f:
            self.assertEqual(f.read(), "the demo game\n")
        self.assertEqual(sorted(os.listdir(self.install)), ["QuorvelRPG.bin"])

    def test_the_demo_key_and_no_key_go_on_to_wine(self):
        with open(source("tools", "demo-keys", "demo-release-key.pub.pem")) as f:
            demo_pem = f.read().strip().replace("\n", "\\n") + "\\n"
        for literal in (demo_pem, ""):
            with self.subTest(key=literal[:40]):
                self.write_key(literal)
                done = self.run_demo()
                self.assertEqual(done.returncode, 99, done.stdout + done.stderr)
                self.assertNotIn("not the demo", done.stderr)



if __name__ == "__main__":
    qrtest.main(("--root", {"required": True}))
