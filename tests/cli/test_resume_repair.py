#!/usr/bin/env python3
"""quorvel-patch resuming broken downloads and verifying and repairing an install, end to end.

  test_resume_repair.py --binary PATH [--wine]   (further arguments go to unittest)

Downloads break on our patch server (a drop after a set number of bytes); the next run is served
by the same server, or by nginx on the same port and root, so nginx's own range support finishes
what ours started. Bytes sent are counted by the server (its --stats file, nginx's access log).
With --wine the binary is the Windows build under wine64 (WinInet, Win32 files and INI calls).
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402
from qrtest import FAILURE, MB, SUCCESS, digest_line, files_under, read, write, zip_bytes  # noqa: E402


class Case(qrtest.InstallCase):
    """Our server on a port that nginx can take over."""
    prefix = "quorvel-resume-"

    def setUp(self):
        self.port = qrtest.free_port()
        self.nginx = None
        super().setUp()
        self.ours = self.server
        self.addCleanup(lambda: self.nginx and self.nginx.stop())

    def start_server(self):
        return qrtest.PatchServer(self.served, self.scratch, self.port)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def hand_over_to_nginx(self, ignore_ranges=False):
        """The same address, from here on served by nginx."""
        self.ours.stop()
        self.ours = None
        self.nginx = qrtest.Nginx(self.served, os.path.join(self.scratch, "nginx"), self.port, ignore_ranges)


class Resume(Case):
    SIZE = 20 * MB
    DROP = 12 * MB  # 60 %

    def prepare(self, with_digest=False):
        self.data = os.urandom(self.SIZE)
        self.serve("big.pak", self.data)
        self.installed("100")
        write(os.path.join(self.install, "big.pak"), b"old game file")
        text = "[VERSION]\r\nversion=101\r\n[101]\r\n0=big.pak\r\n"
        if with_digest:
            text += "[101.sha256]\r\n0=%s\r\n" % digest_line(self.data)
        self.description(text)

    def break_first_run(self):
        self.ours.set_faults({"/files/big.pak": {"mode": "drop", "after": self.DROP}})
        code, out = self.run_patcher()
        self.assertEqual(code, 1, out)
        self.assertIn(FAILURE, out)
        self.assertEqual(read(os.path.join(self.install, "big.pak")), b"old game file")
        temp, record = self.partial("big.pak")
        self.assertEqual(os.path.getsize(temp), self.DROP)
        self.assertIn("bytes=%d" % self.DROP, read(record).decode())
        self.ours.set_faults({})
        time.sleep(0.2)  # the server notes what it sent after the connection is gone
        return self.ours.sent("/files/big.pak")

    def finish_and_count(self, nginx):
        before = self.ours.sent("/files/big.pak") if not nginx else 0
        if nginx:
            self.hand_over_to_nginx()
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertIn(SUCCESS, out)
        self.assertTrue(read(os.path.join(self.install, "big.pak")) == self.data)
        self.assertEqual(self.recorded_version(), "101")
        self.assertEqual([f for f in files_under(self.install) if ".qr" in f], [])
        time.sleep(0.2)  # a server notes what it sent just after the last byte left
        return (self.nginx.sent("/files/big.pak") if nginx else self.ours.sent("/files/big.pak") - before)

    def check_rest_only(self, nginx):
        self.prepare(with_digest=True)
        first = self.break_first_run()
        self.assertLessEqual(first, self.DROP + 64 * 1024)
        second = self.finish_and_count(nginx)
        self.assertEqual(second, self.SIZE - self.DROP)  # about 8 MB, not 20

    def test_dropped_download_is_completed_with_the_rest_only(self):
        self.check_rest_only(nginx=False)

    def test_dropped_download_is_completed_by_nginx_with_the_rest_only(self):
        self.check_rest_only(nginx=True)

    def test_console_rate_counts_only_the_bytes_of_this_run(self):
        if qrtest.OPTIONS.wine:
            self.skipTest("the Windows console's progress line is not a terminal under wine")
        self.prepare()
        self.break_first_run()
        # The rest comes at about 20 KB/s; counting the 12 MB kept would show hundreds of times that.
        self.ours.set_faults({"/files/big.pak": {"mode": "slow", "delay": 0.05, "chunk": 1024}})
        rates = qrtest.progress_on_terminal(self.command(), 5, r"\d+%  (\d+) KB/s")
        self.assertEqual(len(rates), 5, "the progress line was shown")
        for rate in map(int, rates):
            self.assertLess(rate, 1000, rates)
        temp, _ = self.partial("big.pak")
        self.assertGreater(os.path.getsize(temp), self.DROP, "the stopped run kept what it added")

    def check_changed_file(self, nginx):
        self.prepare()
        self.break_first_run()
        self.data = os.urandom(self.SIZE)  # same size: only the validator tells
        self.serve("big.pak", self.data)
        later = time.time() + 5
        os.utime(os.path.join(self.served, "files", "big.pak"), (later, later))
        self.assertEqual(self.finish_and_count(nginx), self.SIZE)

    def test_file_changed_between_runs_is_fetched_whole(self):
        self.check_changed_file(nginx=False)

    def test_file_changed_between_runs_is_fetched_whole_from_nginx(self):
        self.check_changed_file(nginx=True)

    def test_server_that_ignores_ranges_still_ends_right(self):
        for server in ("ours", "nginx"):
            with self.subTest(server=server):
                self.prepare(with_digest=True)
                self.break_first_run()
                if server == "ours":
                    self.ours.set_faults({"/files/big.pak": {"mode": "ignore-range"}})
                    before = self.ours.sent("/files/big.pak")
                    code, out = self.run_patcher()
                    time.sleep(0.2)
                    sent = self.ours.sent("/files/big.pak") - before
                else:
                    self.hand_over_to_nginx(ignore_ranges=True)
                    code, out = self.run_patcher()
                    time.sleep(0.2)
                    sent = self.nginx.sent("/files/big.pak")
                self.assertEqual(code, 0, out)
                self.assertEqual(sent, self.SIZE)
                self.assertTrue(read(os.path.join(self.install, "big.pak")) == self.data)
                self.assertEqual([f for f in files_under(self.install) if ".qr" in f], [])
                if server == "ours":
                    # The next subtest starts again from a broken run on our server.
                    os.remove(os.path.join(self.install, "big.pak"))

    def test_resumed_file_that_fails_its_hash_is_discarded(self):
        self.prepare(with_digest=True)
        self.break_first_run()
        temp, record = self.partial("big.pak")
        with open(temp, "r+b") as f:  # the kept bytes went bad on the disk
            f.seek(4096)
            byte = f.read(1)
            f.seek(4096)
            f.write(bytes([byte[0] ^ 1]))
        code, out = self.run_patcher()
        self.assertEqual(code, 1, out)
        self.assertIn(FAILURE, out)
        self.assertEqual(read(os.path.join(self.install, "big.pak")), b"old game file")
        self.assertFalse(os.path.exists(temp))
        self.assertFalse(os.path.exists(record))
        self.assertEqual(self.recorded_version(), "100")
        # Never a third try on those bytes: the next run fetches the whole file and succeeds.
        before = self.ours.sent("/files/big.pak")
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        time.sleep(0.2)
        self.assertEqual(self.ours.sent("/files/big.pak") - before, self.SIZE)
        self.assertTrue(read(os.path.join(self.install, "big.pak")) == self.data)


class VerifyRepair(Case):
    def setUp(self):
        super().setUp()
        self.plain = {"data/map01.map": os.urandom(300000), "readme.txt": b"version 102 readme",
                      "bin/tool.exe": os.urandom(50000)}
        old_entries = {"data/items.dat": os.urandom(100000), "data/text/ko.txt": "한국어".encode("cp949") * 900}
        new_entries = {"bin/game.dll": os.urandom(200000), "data/items.dat": os.urandom(120000)}
        self.expected = dict(self.plain)
        self.expected.update(old_entries)
        self.expected.update(new_entries)  # a later version wins
        self.archives = {"patch101.zip": zip_bytes(sorted(old_entries.items())),
                         "patch102.zip": zip_bytes(sorted(new_entries.items()))}
        served = {"data/map01.map": "data/map01.bap"}
        for name, data in list(self.plain.items()) + list(self.archives.items()):
            self.serve(served.get(name, name), data)
        h = {n: digest_line(d) for n, d in list(self.plain.items()) + list(self.archives.items())}
        self.description(
            "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n"
            "[101]\r\n0=data/map01.map\r\n1=patch101.zip\r\n2=readme.txt\r\n"
            "[101.sha256]\r\n0=%s\r\n1=%s\r\n2=%s\r\n"
            "[101.contents]\r\n%s"
            "[102]\r\n0=patch102.zip\r\n1=readme.txt\r\n2=bin/tool.exe\r\n"
            "[102.sha256]\r\n0=%s\r\n1=%s\r\n2=%s\r\n"
            "[102.contents]\r\n%s" % (
                h["data/map01.map"], h["patch101.zip"], h["readme.txt"],
                "".join("%s=%s\r\n" % (n, digest_line(d)) for n, d in sorted(old_entries.items())),
                h["patch102.zip"], h["readme.txt"], h["bin/tool.exe"],
                "".join("%s=%s\r\n" % (n, digest_line(d)) for n, d in sorted(new_entries.items()))))
        # The install as a patch run leaves it.
        self.installed("100")
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertEqual(self.recorded_version(), "102")
        self.check_install()
        self.requests_before = len(self.ours.paths())

    def check_install(self):
        for name, data in self.expected.items():
            self.assertTrue(read(os.path.join(self.install, name)) == data, name)

    def new_requests(self):
        return self.ours.paths()[self.requests_before:]

    def test_untouched_install_verifies_and_repairs_without_fetching_files(self):
        for mode in ("--verify", "--repair"):
            with self.subTest(mode=mode):
                start = len(self.ours.paths())
                code, out = self.run_patcher(mode)
                self.assertEqual(code, 0, out)
                self.assertIn("6 files of version 102, 0 missing, 0 damaged", out)
                self.assertEqual(self.ours.paths()[start:], ["/tzan/patch.txt", "/tzan/PatchInfo.ini"])
        self.assertNotIn("patch.txt", os.listdir(self.install))

    def test_damage_is_reported_then_repaired_fetching_only_what_is_needed(self):
        with open(os.path.join(self.install, "data", "map01.map"), "r+b") as f:
            f.truncate(1000)  # a truncated plain file
        with open(os.path.join(self.install, "readme.txt"), "r+b") as f:
            f.write(b"V")  # changed in place, same size
        os.remove(os.path.join(self.install, "data", "text", "ko.txt"))  # came from patch101.zip
        os.remove(os.path.join(self.install, "VersionInfo.ini"))
        self.installed("101")

        code, out = self.run_patcher("--verify")
        self.assertEqual(code, 1, out)
        lines = [l for l in out.splitlines() if l.startswith(("missing", "damaged"))]
        self.assertEqual(lines, ["damaged  data/map01.map", "missing  data/text/ko.txt", "damaged  readme.txt"])
        self.assertIn("6 files of version 102, 1 missing, 2 damaged", out)
        self.assertEqual(self.recorded_version(), "101")  # verify changes nothing
        self.assertEqual(self.new_requests(), ["/tzan/patch.txt", "/tzan/PatchInfo.ini"])

        start = len(self.ours.paths())
        items_dat = read(os.path.join(self.install, "data", "items.dat"))
        code, out = self.run_patcher("--repair")
        self.assertEqual(code, 0, out)
        self.assertEqual(sorted(self.ours.paths()[start + 2:]),
                         ["/files/data/map01.bap", "/files/patch101.zip", "/files/readme.txt"])
        self.check_install()
        # Only the missing entry came out of the archive: the newer items.dat of 102 stays.
        self.assertTrue(read(os.path.join(self.install, "data", "items.dat")) == items_dat)
        self.assertFalse(os.path.exists(os.path.join(self.install, "patch101.zip")))
        self.assertEqual(self.recorded_version(), "102")
        self.assertEqual([f for f in files_under(self.install) if ".qr" in f or f == "patch.txt"], [])
        code, out = self.run_patcher("--verify")
        self.assertEqual(code, 0, out)

    def test_repair_over_a_read_only_file_says_read_only(self):
        readme = os.path.join(self.install, "readme.txt")
        with open(readme, "r+b") as f:
            f.write(b"V")
        os.chmod(readme, 0o444)
        try:
            code, out = self.run_patcher("--repair")
        finally:
            os.chmod(readme, 0o644)
        self.assertEqual(code, 1, out)
        self.assertIn("failed   readme.txt (the file could not be replaced (read-only))", out)
        self.assertNotIn("in use", out)
        self.assertEqual(read(readme), b"Version 102 readme")

    def test_repair_that_cannot_fetch_records_nothing(self):
        os.remove(os.path.join(self.install, "bin", "game.dll"))
        self.installed("101")
        self.ours.set_faults({"/files/patch102.zip": {"mode": "status", "status": 503}})
        code, out = self.run_patcher("--repair")
        self.assertEqual(code, 1, out)
        self.assertIn("still missing  bin/game.dll", out)
        self.assertEqual(self.recorded_version(), "101")
        # A server that sends other bytes than described is refused the same way.
        self.serve("patch102.zip", zip_bytes([("bin/game.dll", b"not the described release")]))
        self.ours.set_faults({})
        code, out = self.run_patcher("--repair")
        self.assertEqual(code, 1, out)
        self.assertFalse(os.path.exists(os.path.join(self.install, "bin", "game.dll")))
        self.assertEqual(self.recorded_version(), "101")

    def test_with_a_release_key_only_a_verified_description_is_believed(self):
        stem, ext = os.path.splitext(qrtest.OPTIONS.binary)
        demokey = stem + "-demokey" + ext  # the same program with the demo release key built in
        if not os.path.exists(demokey):
            self.skipTest("no %s" % demokey)
        description = os.path.join(self.served, "tzan", "PatchInfo.ini")
        qrtest.sign(description)
        os.remove(os.path.join(self.install, "bin", "tool.exe"))
        code, out = self.run_patcher("--verify", binary=demokey)
        self.assertEqual(code, 1, out)
        self.assertIn("missing  bin/tool.exe", out)
        good = read(description)
        write(description, good.replace(b"version=102", b"version=103"))  # no longer what was signed
        start = len(self.ours.paths())
        code, out = self.run_patcher("--repair", binary=demokey)
        self.assertEqual(code, 1, out)
        self.assertIn("signature does not verify", out)
        self.assertEqual([p for p in self.ours.paths()[start:] if p.startswith("/files/")], [])
        self.assertFalse(os.path.exists(os.path.join(self.install, "bin", "tool.exe")))
        write(description, good)
        code, out = self.run_patcher("--repair", binary=demokey)
        self.assertEqual(code, 0, out)
        self.check_install()

    def test_usage(self):
        cmd = [qrtest.OPTIONS.binary, "--verify", "--repair", "--install-dir", "x"]
        self.assertEqual(qrtest.run(cmd, timeout=60)[0], 2)


if __name__ == "__main__":
    qrtest.main(("--binary", {"required": True}))
