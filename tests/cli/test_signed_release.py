#!/usr/bin/env python3
"""quorvel-patch-demokey (the demo release key built in) against signed releases on the real patch
server, natively and under wine64; natively also over HTTPS with a certificate made for the test.

  test_signed_release.py --binary PATH [--wine]   (further arguments go to unittest)
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402
from qrtest import digest_line  # noqa: E402


class SignedRun(qrtest.InstallCase):
    prefix = "quorvel-cli-"
    tls = False

    def start_server(self):
        return qrtest.PatchServer(self.served, self.scratch, tls=self.tls)

    def setUp(self):
        super().setUp()
        self.installed("101")
        self.game = {"QuorvelRPG.bin": b"old game", "data/map01.map": b"old map"}
        for name, data in self.game.items():
            qrtest.write(os.path.join(self.install, name), data)

    def release(self, version_lines="version=102\r\nexpires=2999-12-31\r\n", game=b"new game " * 5000):
        """Version 102: the game, a map (served as .bap) and an archive; returns the description text."""
        archive = qrtest.zip_bytes([("bin/game.dll", b"DLL" * 30000)])
        served = {"QuorvelRPG.bin": game, "data/map01.bap": b"new map" * 999, "patch102.zip": archive}
        for name, data in served.items():
            self.serve(name, data)
        return ("[VERSION]\r\n%s[102]\r\n0=QuorvelRPG.bin\r\n1=data/map01.map\r\n2=patch102.zip\r\n"
                "[102.sha256]\r\n0=%s\r\n1=%s\r\n2=%s\r\n[102.contents]\r\nbin/game.dll=%s\r\n" % (
                    version_lines, digest_line(game), digest_line(b"new map" * 999), digest_line(archive),
                    digest_line(b"DLL" * 30000)))

    def publish(self, text, sign=True):
        path = os.path.join(self.served, "tzan", "PatchInfo.ini")
        qrtest.write(path, text)
        if sign:
            qrtest.sign(path)

    def assert_nothing_changed(self, out):
        self.assertEqual(self.recorded_version(), "101", out)
        for name, data in self.game.items():
            self.assertEqual(qrtest.read(os.path.join(self.install, name)), data, name)
        self.assertFalse(os.path.exists(os.path.join(self.install, "bin", "game.dll")))
        self.assert_clean_install()

    def assert_refused(self, what):
        code, out = self.run_patcher(env=self.env())
        self.assertEqual(code, 1, what + "\n" + out)
        self.assertIn(qrtest.INFO_FAILED, out, what)
        self.assertNotIn(qrtest.SUCCESS, out, what)
        fetched = [r["path"] for r in self.server.seen() if r["path"].startswith("/files/")]
        self.assertEqual(fetched, [], what)
        self.assert_nothing_changed(out)
        last = self.run_log().split("=== run started ")[-1]
        self.assertIn("served version: (unknown)\r\nresult: failed, no usable patch description\r\n"
                      "reason: the patch description ", last, what)

    def env(self):
        return {}

    # -- cases ---------------------------------------------------------------------------------
    def test_signed_release_patches(self):
        self.publish(self.release())
        code, out = self.run_patcher(env=self.env())
        self.assertEqual(code, 0, out)
        self.assertIn(qrtest.SUCCESS, out)
        self.assertEqual(qrtest.read(os.path.join(self.install, "QuorvelRPG.bin")), b"new game " * 5000)
        self.assertEqual(qrtest.read(os.path.join(self.install, "data", "map01.map")), b"new map" * 999)
        self.assertEqual(qrtest.read(os.path.join(self.install, "bin", "game.dll")), b"DLL" * 30000)
        self.assertEqual(self.recorded_version(), "102")
        self.assert_clean_install()

    def test_flipped_byte_in_the_description_is_refused(self):
        text = self.release()
        self.publish(text)
        path = os.path.join(self.served, "tzan", "PatchInfo.ini")
        flipped = bytearray(qrtest.read(path))
        flipped[text.index("0=Quorvel")] ^= 0x01
        qrtest.write(path, bytes(flipped))
        self.assert_refused("flipped byte")

    def test_missing_or_wrong_signature_is_refused(self):
        text = self.release()
        self.publish(text)
        sig = os.path.join(self.served, "tzan", "PatchInfo.ini.sig")
        good = qrtest.read(sig)
        os.remove(sig)
        self.assert_refused("missing .sig")
        qrtest.write(sig, good[:-1] + bytes([good[-1] ^ 1]))
        self.assert_refused("flipped .sig")
        qrtest.write(sig, b"not a signature")
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
        self.assertIn(qrtest.FAILURE, out)
        self.assertEqual(self.recorded_version(), "101")
        self.assertEqual(qrtest.read(os.path.join(self.install, "QuorvelRPG.bin")), b"old game")
        self.assert_clean_install()
        last = self.run_log().split("=== run started ")[-1]
        self.assertIn("installed version: 101\r\nserved version: 102\r\nfailed: QuorvelRPG.bin: ", last)
        self.assertIn("result: failed\r\nreason: QuorvelRPG.bin: ", last)

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
        self.assertIn(qrtest.INFO_FAILED, out)
        self.assertEqual(self.server.seen(), [])
        self.assert_nothing_changed(out)


if __name__ == "__main__":
    if "--wine" in sys.argv:
        # HTTPS through WinInet would need the test certificate in Wine's store; natively it is curl's.
        del SignedRunOverHttps
    qrtest.main(("--binary", {"required": True}))
