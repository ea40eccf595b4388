#!/usr/bin/env python3
"""quorvel-patch resuming broken downloads and verifying and repairing an install, end to end.

  test_resume_repair.py --binary PATH [--wine]   (further arguments go to unittest)

Downloads break on our patch server (a drop after a set number of bytes); the next run is served
by the same server, or by nginx on the same port and root, so nginx's own range support finishes
what ours started. Bytes sent are counted by the server (its --stats file, nginx's access log).
With --wine the binary is the Windows build under wine64 (WinInet, Win32 files and INI calls).
"""

import argparse
import hashlib
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_quorvel_patch as base  # noqa: E402  (shared texts and helpers)

from test_quorvel_patch import FAILURE, SUCCESS, files_under, read, write  # noqa: E402

OPTIONS = None
NGINX = "/usr/sbin/nginx"
MB = 1024 * 1024


def digest_line(data):
    return "%s %d" % (hashlib.sha256(data).hexdigest(), len(data))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class OurServer:
    """tools/patch_server.py with fault modes, a request log and a count of the bytes it sent."""

    def __init__(self, root, scratch, port):
        self.faults = os.path.join(scratch, "faults.json")
        self.requests = os.path.join(scratch, "requests.jsonl")
        self.stats = os.path.join(scratch, "stats.jsonl")
        self.set_faults({})
        self.proc = subprocess.Popen(
            [sys.executable, base.SERVER, "--root", root, "--port", str(port), "--faults", self.faults,
             "--requests", self.requests, "--stats", self.stats, "--exit-on-stdin-eof"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        assert line and line[0] == "READY", line

    def set_faults(self, faults):
        with open(self.faults + ".tmp", "w") as f:
            json.dump(faults, f)
        os.replace(self.faults + ".tmp", self.faults)

    def sent(self, path):
        """Body bytes sent for path, over every response so far."""
        if not os.path.exists(self.stats):
            return 0
        with open(self.stats) as f:
            return sum(e["bytes"] for e in map(json.loads, f) if e["path"] == path)

    def paths(self):
        if not os.path.exists(self.requests):
            return []
        with open(self.requests) as f:
            return [json.loads(line)["path"] for line in f if line.strip()]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()


class Nginx:
    """nginx-light with its own configuration on loopback; every path it writes is under `scratch`."""

    def __init__(self, root, scratch, port, ignore_ranges=False):
        self.dir = os.path.join(scratch, "nginx")
        os.makedirs(self.dir, exist_ok=True)
        self.log = os.path.join(self.dir, "access.log")
        temp = "\n".join("    %s_temp_path %s/%s;" % (k, self.dir, k)
                         for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write("daemon off;\n%s"
                    "worker_processes 1;\npid %s/nginx.pid;\nerror_log %s/error.log;\n"
                    "events { worker_connections 64; }\n"
                    "http {\n"
                    "    log_format sent '$uri $status $body_bytes_sent';\n"
                    "    access_log %s sent;\n%s\n"
                    "    server {\n        listen 127.0.0.1:%d;\n        root %s;\n%s"
                    "    }\n}\n" % ("user root;\n" if os.geteuid() == 0 else "", self.dir, self.dir, self.log,
                                     temp, port, root, "        max_ranges 0;\n" if ignore_ranges else ""))
        self.proc = subprocess.Popen([NGINX, "-p", self.dir, "-c", conf, "-e", os.path.join(self.dir, "error.log")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not wait_for_port(port):
            self.stop()
            raise RuntimeError("nginx did not start: %s" % self.proc.stderr.read().decode())

    def sent(self, path):
        if not os.path.exists(self.log):
            return 0
        total = 0
        with open(self.log) as f:
            for line in f:
                uri, _, count = line.split()
                if uri == path:
                    total += int(count)
        return total

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stderr.close()


class Case(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quorvel-resume-")
        self.served = os.path.join(self.scratch, "server")
        self.install = os.path.join(self.scratch, "install")
        os.makedirs(self.install)
        os.makedirs(self.served)
        self.port = free_port()
        self.ours = OurServer(self.served, self.scratch, self.port)
        self.nginx = None
        self.addCleanup(self.stop_servers)
        self.addCleanup(shutil.rmtree, self.scratch, True)
        write(os.path.join(self.served, "tzan", "patch.txt"),
              "[PATCH]\r\ninfo=%s\r\nnews=%s\r\nbase=%s\r\n" % (
                  self.url("/tzan/PatchInfo.ini"), self.url("/news.html"), self.url("/files")))

    def stop_servers(self):
        if self.ours:
            self.ours.stop()
        if self.nginx:
            self.nginx.stop()

    def hand_over_to_nginx(self, ignore_ranges=False):
        """The same address, from here on served by nginx."""
        self.ours.stop()
        self.ours = None
        self.nginx = Nginx(self.served, self.scratch, self.port, ignore_ranges)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def installed(self, version):
        write(os.path.join(self.install, "VersionInfo.ini"), "[VERSION]\r\nversion=%s\r\n" % version)

    def recorded_version(self):
        text = read(os.path.join(self.install, "VersionInfo.ini")).decode("cp949")
        for line in text.splitlines():
            if line.strip().lower().startswith("version"):
                return line.split("=", 1)[1].strip()
        return None

    def serve(self, name, data):
        write(os.path.join(self.served, "files", name), data)

    def description(self, text):
        write(os.path.join(self.served, "tzan", "PatchInfo.ini"), text)

    def run_patcher(self, *extra, binary=None):
        install = "Z:" + self.install.replace("/", "\\") if OPTIONS.wine else self.install
        cmd = [binary or OPTIONS.binary] + list(extra) + ["--install-dir", install, "--patch-list", self.url("/tzan/patch.txt")]
        if OPTIONS.wine:
            cmd = ["/usr/lib/wine/wine64"] + cmd
        p = subprocess.run(cmd, capture_output=True, timeout=300)
        return p.returncode, p.stdout.decode("utf-8", "replace")

    def partial(self, name):
        return os.path.join(self.install, name + ".qrtmp"), os.path.join(self.install, name + ".qrpart")


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


def zip_bytes(entries):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name), data, compress_type=zipfile.ZIP_DEFLATED)
    return buf.getvalue()


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
        stem, ext = os.path.splitext(OPTIONS.binary)
        demokey = stem + "-demokey" + ext  # the same program with the demo release key built in
        if not os.path.exists(demokey):
            self.skipTest("no %s" % demokey)
        key = os.path.join(base.ROOT, "tools", "demo-keys", "demo-release-key.pem")
        description = os.path.join(self.served, "tzan", "PatchInfo.ini")
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", description + ".sig", description],
                       check=True)
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
        cmd = [OPTIONS.binary, "--verify", "--repair", "--install-dir", "x"]
        if OPTIONS.wine:
            cmd = ["/usr/lib/wine/wine64"] + cmd
        self.assertEqual(subprocess.run(cmd, capture_output=True, timeout=60).returncode, 2)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--wine", action="store_true")
    OPTIONS, rest = parser.parse_known_args()
    base.OPTIONS = OPTIONS
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
