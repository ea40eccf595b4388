#!/usr/bin/env python3
"""quorvel-patch-demokey (the demo release key built in) against signed releases on the real patch
server, natively and under wine64; natively also over HTTPS with a certificate made for the test.

  test_signed_release.py --binary PATH [--wine]   (further arguments go to unittest)
"""

import argparse
import hashlib
import os
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_quorvel_patch as harness  # noqa: E402

KEY = os.path.join(harness.ROOT, "tools", "demo-keys", "demo-release-key.pem")


def digest_line(data):
    return "%s %d" % (hashlib.sha256(data).hexdigest(), len(data))


class TlsServer(harness.Server):
    """The patch server speaking HTTPS with a self-signed certificate for 127.0.0.1."""

    def __init__(self, root, scratch):
        self.cert = os.path.join(scratch, "cert.pem")
        key = os.path.join(scratch, "cert-key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-nodes", "-keyout", key, "-out", self.cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
        self.faults = os.path.join(scratch, "faults.json")
        self.requests = os.path.join(scratch, "requests.jsonl")
        self.set_faults({})
        self.proc = subprocess.Popen(
            [sys.executable, harness.SERVER, "--root", root, "--port", "0", "--faults", self.faults,
             "--requests", self.requests, "--tls-cert", self.cert, "--tls-key", key, "--exit-on-stdin-eof"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        assert line and line[0] == "READY", line
        self.port = int(line[1])

    def url(self, path):
        return "https://127.0.0.1:%d%s" % (self.port, path)


class SignedRun(unittest.TestCase):
    tls = False

    def setUp(self):
        if self.tls:
            harness.Server, saved = TlsServer, harness.Server
            try:
                harness.PatchRun.setUp(self)
            finally:
                harness.Server = saved
        else:
            harness.PatchRun.setUp(self)
        self.installed("101")
        self.game = {"QuorvelRPG.bin": b"old game", "data/map01.map": b"old map"}
        for name, data in self.game.items():
            harness.write(os.path.join(self.install, name), data)

    # The helpers of the unsigned cases, shared rather than copied.
    for _name in ("installed", "description", "serve", "recorded_version", "host_path", "command",
                  "run_patcher", "assert_clean_install"):
        locals()[_name] = getattr(harness.PatchRun, _name)
    del _name

    def release(self, version_lines="version=102\r\nexpires=2999-12-31\r\n", game=b"new game " * 5000):
        """Version 102: the game, a map (served as .bap) and an archive; returns the description text."""
        archive_path = os.path.join(self.scratch, "patch102.zip")
        with zipfile.ZipFile(archive_path, "w") as z:
            z.writestr("bin/game.dll", b"DLL" * 30000, compress_type=zipfile.ZIP_DEFLATED)
        archive = harness.read(archive_path)
        served = {"QuorvelRPG.bin": game, "data/map01.bap": b"new map" * 999, "patch102.zip": archive}
        for name, data in served.items():
            self.serve(name, data)
        return ("[VERSION]\r\n%s[102]\r\n0=QuorvelRPG.bin\r\n1=data/map01.map\r\n2=patch102.zip\r\n"
                "[102.sha256]\r\n0=%s\r\n1=%s\r\n2=%s\r\n[102.contents]\r\nbin/game.dll=%s\r\n" % (
                    version_lines, digest_line(game), digest_line(b"new map" * 999), digest_line(archive),
                    digest_line(b"DLL" * 30000)))

    def publish(self, text, sign=True):
        path = os.path.join(self.served, "tzan", "PatchInfo.ini")
        harness.write(path, text)
        if sign:
            subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY, "-out", path + ".sig", path], check=True)

    def assert_nothing_changed(self, out):
        self.assertEqual(self.recorded_version(), "101", out)
        for name, data in self.game.items():
            self.assertEqual(harness.read(os.path.join(self.install, name)), data, name)
        self.assertFalse(os.path.exists(os.path.join(self.install, "bin", "game.dll")))
        self.assert_clean_install()

    def assert_refused(self, what):
        code, out = self.run_patcher(env=self.env())
        self.assertEqual(code, 1, what + "\n" + out)
        self.assertIn(harness.INFO_FAILED, out, what)
        self.assertNotIn(harness.SUCCESS, out, what)
        fetched = [r["path"] for r in self.server.seen() if r["path"].startswith("/files/")]
        self.assertEqual(fetched, [], what)
        self.assert_nothing_changed(out)

    def env(self):
        return {}

    # -- cases ---------------------------------------------------------------------------------
    def test_signed_release_patches(self):
        self.publish(self.release())
        code, out = self.run_patcher(env=self.env())
        self.assertEqual(code, 0, out)
        self.assertIn(harness.SUCCESS, out)
        self.assertEqual(harness.read(os.path.join(self.install, "QuorvelRPG.bin")), b"new game " * 5000)
        self.assertEqual(harness.read(os.path.join(self.install, "data", "map01.map")), b"new map" * 999)
        self.assertEqual(harness.read(os.path.join(self.install, "bin", "game.dll")), b"DLL" * 30000)
        self.assertEqual(self.recorded_version(), "102")
        self.assert_clean_install()

    def test_flipped_byte_in_the_description_is_refused(self):
        text = self.release()
        self.publish(text)
        path = os.path.join(self.served, "tzan", "PatchInfo.ini")
        flipped = bytearray(harness.read(path))
        flipped[text.index("0=Quorvel")] ^= 0x01
        harness.write(path, bytes(flipped))
        self.assert_refused("flipped byte")

    def test_missing_or_wrong_signature_is_refused(self):
        text = self.release()
        self.publish(text)
        sig = os.path.join(self.served, "tzan", "PatchInfo.ini.sig")
        good = harness.read(sig)
        os.remove(sig)
        self.assert_refused("missing .sig")
        harness.write(sig, good[:-1] + bytes([good[-1] ^ 1]))
        self.assert_refused("flipped .sig")
        harness.write(sig, b"not a signature")
        self.assert_refused("garbage .sig")

    def test_older_or_expired_signed_descriptions_are_refused(self):
        self.publish(self.release("version=100\r\n"))
        self.assert_refused("older version")
        self.publish(self.release("version=102\r\nexpires=2001-01-01\r\n"))
        self.assert_refused("expired")

    def test_file_that_differs_from_its_hash_fails_and_keeps_the_old_one(self):
        text = self.release()
        self.publish(text)
        self.serve("QuorvelRPG.bin", b"evil game " * 5000)
        code, out = self.run_patcher(env=self.env())
        self.assertEqual(code, 1, out)
        self.assertIn(harness.FAILURE, out)
        self.assertEqual(self.recorded_version(), "101")
        self.assertEqual(harness.read(os.path.join(self.install, "QuorvelRPG.bin")), b"old game")
        self.assert_clean_install()

    def test_unsigned_old_style_server_is_refused_with_a_key(self):
        self.publish("[VERSION]\r\nversion=102\r\n[102]\r\n0=QuorvelRPG.bin\r\n", sign=False)
        self.serve("QuorvelRPG.bin", b"foreign")
        self.assert_refused("unsigned")


class SignedRunOverHttps(SignedRun):
    tls = True

    def env(self):
        return {"QUORVEL_TEST_CA_FILE": self.server.cert}

    def test_certificate_checks_stay_on(self):
        self.publish(self.release())
        code, out = self.run_patcher()  # no test certificate named: the self-signed one is refused
        self.assertEqual(code, 1, out)
        self.assertIn(harness.INFO_FAILED, out)
        self.assertEqual(self.server.seen(), [])
        self.assert_nothing_changed(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--wine", action="store_true")
    harness.OPTIONS, rest = parser.parse_known_args()
    if harness.OPTIONS.wine:
        # HTTPS through WinInet would need the test certificate in Wine's store; natively it is curl's.
        del globals()["SignedRunOverHttps"]
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
