#!/usr/bin/env python3
"""quorvel-patch fetching several items at once from the real patch server, whose per-path delays make
later items finish first: the list order still decides every file, a failure commits nothing after it,
a stop keeps every transfer resumable, a second run asks only for what is missing, and the connections
stay within the number asked for.

  test_parallel_fetch.py --binary PATH [--wine]
"""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402
from qrtest import PATCHED_TO, STOPPED, digest_line, files_under, read, write, zip_bytes  # noqa: E402


class ParallelFetch(qrtest.InstallCase):
    prefix = "quorvel-parallel-"

    def release(self, items, digests=True):
        """Version 101 bringing `items` (name -> bytes) in that order, each with its digest line."""
        lines = ["[VERSION]", "version=101", "[101]"]
        lines += ["%d=%s" % (i, name) for i, name in enumerate(items)]
        if digests:
            lines.append("[101.sha256]")
            lines += ["%d=%s" % (i, digest_line(data)) for i, data in enumerate(items.values())]
        self.description("\r\n".join(lines) + "\r\n")
        for name, data in items.items():
            self.serve(name, data)

    def file_requests(self):
        return [r for r in self.server.seen() if r["path"].startswith("/files/")]

    def test_list_order_decides_when_later_items_finish_first(self):
        archive = zip_bytes([("x.txt", b"from the archive"), ("y.txt", b"only in the archive")])
        for plain_first in (False, True):
            with self.subTest(plain_first=plain_first):
                self.installed("100")
                items = {"x.txt": b"plain x", "pack.zip": archive} if plain_first else \
                    {"pack.zip": archive, "x.txt": b"plain x"}
                self.release(items)
                # The first item answers last.
                first = "/files/" + next(iter(items))
                self.server.set_faults({first: {"before": 1.0}})
                code, out = self.run_patcher("--connections", "6")
                self.assertEqual(code, 0, out)
                self.assertEqual(read(os.path.join(self.install, "x.txt")),
                                 b"from the archive" if plain_first else b"plain x")
                self.assertEqual(read(os.path.join(self.install, "y.txt")), b"only in the archive")
                self.assertEqual(self.recorded_version(), "101")
                self.assert_clean_install()
                os.remove(os.path.join(self.install, "x.txt"))
                os.remove(os.path.join(self.install, "y.txt"))

    def test_failure_commits_nothing_after_it_and_the_next_run_asks_only_for_the_rest(self):
        self.installed("100")
        names = ["f%02d.dat" % i for i in range(12)]
        items = {name: ("new %s " % name).encode() * 50 for name in names}
        self.release(items)
        for name in names:
            write(os.path.join(self.install, name), "old")
        # Item 5 fails at once; the items after it, already fetched, must not replace anything.
        faults = {"/files/f05.dat": {"mode": "status", "status": 503}}
        faults.update({"/files/f%02d.dat" % i: {"before": 0.8} for i in range(5)})
        self.server.set_faults(faults)
        code, out = self.run_patcher("--connections", "6")
        self.assertEqual(code, 1, out)
        self.assertIn("f05.dat", out)
        for i, name in enumerate(names):
            self.assertEqual(read(os.path.join(self.install, name)), items[name] if i < 5 else b"old", name)
        self.assertEqual(self.recorded_version(), "100")
        self.assert_clean_install()

        self.server.set_faults({})
        before = len(self.file_requests())
        code, out = self.run_patcher("--connections", "6")
        self.assertEqual(code, 0, out)
        self.assertIn(PATCHED_TO % "101", out)
        asked = [r["path"] for r in self.file_requests()[before:]]
        # The five in place are not asked for again; those fetched ahead of the failure were kept.
        self.assertNotIn("/files/f00.dat", asked)
        self.assertIn("/files/f05.dat", asked)
        self.assertLessEqual(len(asked), 7, asked)
        self.assertEqual(read(os.path.join(self.install, "f11.dat")), items["f11.dat"])
        self.assertEqual(self.recorded_version(), "101")
        self.assert_clean_install()

    def test_connections_stay_within_the_number_asked_for(self):
        self.installed("100")
        self.release({"file%03d.txt" % i: b"%d" % i * 100 for i in range(100)})
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        used = {r["connection"] for r in self.file_requests()}
        self.assertLessEqual(len(used), 6, used)
        self.assertGreater(len(used), 1, "the default fetches on more than one connection")
        self.assertEqual(len(self.file_requests()), 100)
        # The operator may lower it in the description.
        self.installed("100")
        text = read(os.path.join(self.served, "tzan", "PatchInfo.ini")).decode()
        self.description(text.replace("version=101\r\n", "version=101\r\nconnections=2\r\n", 1))
        for name in files_under(self.install):
            if name.startswith("file"):
                os.remove(os.path.join(self.install, name))
        before = len(self.file_requests())
        code, out = self.run_patcher("--connections", "8")
        self.assertEqual(code, 0, out)
        used = {r["connection"] for r in self.file_requests()[before:]}
        self.assertLessEqual(len(used), 2, used)

    def test_stop_keeps_every_transfer_in_flight_resumable(self):
        if qrtest.OPTIONS.wine:
            self.skipTest("signals do not reach a program under wine")
        self.installed("100")
        names = ["slow%d.bin" % i for i in range(8)]
        self.release({name: bytes([65 + i]) * 300000 for i, name in enumerate(names)})
        self.server.set_faults({"/files/" + n: {"mode": "slow", "delay": 0.05, "chunk": 2048} for n in names})
        proc = subprocess.Popen(self.command("--connections", "6"), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        deadline = time.time() + 30
        while time.time() < deadline and sum(f.endswith(".qrtmp") for f in files_under(self.install)) < 6:
            time.sleep(0.05)
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=20)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(qrtest.closing_line(out.decode("utf-8", "replace")), STOPPED)
        present = set(files_under(self.install))
        partial = sorted(f for f in present if f.endswith(".qrtmp"))
        self.assertEqual(len(partial), 6, present)
        records = {temp[:-len(".qrtmp")] + ".qrpart" for temp in partial}
        self.assertLessEqual(records, present)
        # Nothing else: no game file replaced, nothing of the items not yet started.
        self.assertEqual(present - set(partial) - records - {"patch.txt"}, {"VersionInfo.ini", qrtest.RUN_LOG})
        self.assertEqual(self.recorded_version(), "100")


if __name__ == "__main__":
    qrtest.main(("--binary", {"required": True}))
