#!/usr/bin/env python3
"""End-to-end runs of quorvel-patch against the real patch server on loopback.

  test_quorvel_patch.py --binary PATH [--wine]   (further arguments go to unittest)

With --wine the binary is a Windows build run under wine64, so the same cases drive the WinInet
client and the Windows file and INI calls.
"""

import os
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402
from qrtest import FAILURE, INFO_FAILED, PATCHED_TO, RUN_AGAIN, RUN_FAILED, SUCCESS, VERSION_ERROR  # noqa: E402
from qrtest import files_under, read, write, zip_bytes  # noqa: E402


class PatchRun(qrtest.InstallCase):
    prefix = "quorvel-cli-"

    # -- cases ---------------------------------------------------------------------------------
    def test_up_to_date_run_succeeds_without_downloads(self):
        self.installed("101")
        self.description("[VERSION]\r\nversion=101\r\n")
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertIn(SUCCESS, out)
        self.assertEqual(self.recorded_version(), "101")
        self.assert_clean_install()
        paths = self.server.paths()
        self.assertEqual(paths, ["/tzan/patch.txt", "/tzan/PatchInfo.ini"])

    def test_versions_100_to_103_bring_files_maps_and_archives(self):
        self.installed("100")
        write(os.path.join(self.install, "data", "map01.map"), "old map")
        self.description("[VERSION]\r\nversion=103\r\n"
                         "[101]\r\n0=data/map01.map\r\n1=patch101.zip\r\n"
                         "[102]\r\n0=patch102.zip\r\n1=data/map01.map\r\n2=sound/bgm/town.ogg\r\n"
                         "[103]\r\n0=readme.txt\r\n")
        self.serve("data/map01.bap", b"M" * 70000)
        self.serve("patch101.zip", zip_bytes([
            ("data/", b"", zipfile.ZIP_STORED),
            ("data/items.dat", os.urandom(100000), zipfile.ZIP_STORED),
            ("data/text/ko.txt", "한국어".encode("cp949") * 5000, zipfile.ZIP_DEFLATED)]))
        self.serve("patch102.zip", zip_bytes([("bin/game.dll", b"DLL" * 30000, zipfile.ZIP_DEFLATED)]))
        self.serve("sound/bgm/town.ogg", os.urandom(20000))
        self.serve("readme.txt", "patch 103")
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertIn("data/map01.map 받는 중", out)
        self.assertIn("압축푸는 중 : patch101.zip", out)
        self.assertEqual(read(os.path.join(self.install, "data", "map01.map")), b"M" * 70000)
        self.assertEqual(read(os.path.join(self.install, "bin", "game.dll")), b"DLL" * 30000)
        self.assertEqual(read(os.path.join(self.install, "data", "text", "ko.txt")),
                         "한국어".encode("cp949") * 5000)
        self.assertEqual(read(os.path.join(self.install, "readme.txt")), b"patch 103")
        # The window's status is shown, but a console has no start button: it closes in its own words.
        self.assertIn(SUCCESS, out)
        self.assertEqual(qrtest.closing_line(out), PATCHED_TO % "103")
        self.assertTrue(os.path.exists(os.path.join(self.install, "sound", "bgm", "town.ogg")))
        self.assertFalse(os.path.exists(os.path.join(self.install, "patch101.zip")))
        self.assertEqual(self.recorded_version(), "103")
        self.assert_clean_install()
        seen = self.server.seen()
        paths = [r["path"] for r in seen]
        self.assertEqual(paths.count("/files/data/map01.bap"), 1)  # listed twice, fetched once
        self.assertNotIn("/files/data/map01.map", paths)
        for r in seen:
            self.assertEqual(r.get("user_agent"), "QR", r)

    def test_each_fault_fails_the_run_and_keeps_the_old_file(self):
        faults = {
            "status": {"mode": "status", "status": 500},
            "missing": None,
            "drop": {"mode": "drop", "after": 5000},
            "short": {"mode": "wrong-length", "length": 50000},
            "long": {"mode": "wrong-length", "length": 100},
        }
        # Connections are kept open, so a body ends at its Content-Length and the bytes after it are never
        # seen; such a file is never taken with more bytes than announced, so it is tried on its own below.
        del faults["long"]
        reasons = {"status": "the server answered 500", "missing": "the server answered 404",
                   "drop": "the transfer broke" + ("" if qrtest.OPTIONS.wine else " after 5000 bytes of 20000")}
        for label, fault in faults.items():
            with self.subTest(fault=label):
                self.installed("100")
                write(os.path.join(self.install, "game.dat"), "old game data")
                self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=game.dat\r\n1=other.txt\r\n")
                path = os.path.join(self.served, "files", "game.dat")
                if fault is None:
                    if os.path.exists(path):
                        os.remove(path)
                else:
                    self.serve("game.dat", b"N" * 20000)
                self.serve("other.txt", "other")
                self.server.set_faults({"/files/game.dat": fault} if fault else {})
                code, out = self.run_patcher()
                self.assertEqual(code, 1, out)
                self.assertIn(FAILURE, out)
                # The failure names the file, the step and the server's answer.
                self.assertIn("failed   game.dat (" + reasons.get(label, ""), out)
                self.assertIn(RUN_FAILED + "game.dat: " + reasons.get(label, ""), out)
                # The log keeps it for a support desk, and --show-log prints it.
                log = self.run_log()
                self.assertIn("served version: 101\r\nfailed: game.dat: " + reasons.get(label, ""), log)
                code, shown = self.run_patcher("--show-log")
                self.assertEqual(code, 0, shown)
                self.assertIn("failed: game.dat: " + reasons.get(label, ""), shown)
                self.assertEqual(qrtest.closing_line(shown), qrtest.closing_line(log))
                self.assertEqual(read(os.path.join(self.install, "game.dat")), b"old game data")
                # Nothing after the failed item is committed.
                self.assertFalse(os.path.exists(os.path.join(self.install, "other.txt")))
                self.assertEqual(self.recorded_version(), "100")
                self.assert_clean_install()

    def test_body_longer_than_announced_never_lands_past_the_announced_length(self):
        self.installed("100")
        write(os.path.join(self.install, "game.dat"), "old game data")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=game.dat\r\n")
        self.serve("game.dat", b"N" * 20000)
        self.server.set_faults({"/files/game.dat": {"mode": "wrong-length", "length": 100}})
        code, out = self.run_patcher()
        if code == 0:
            self.assertEqual(read(os.path.join(self.install, "game.dat")), b"N" * 100)
        else:
            self.assertIn(FAILURE, out)
            self.assertEqual(read(os.path.join(self.install, "game.dat")), b"old game data")
        self.assert_clean_install()

    def test_body_without_length_is_taken_whole(self):
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=stream.bin\r\n")
        self.serve("stream.bin", b"S" * 30000)
        self.server.set_faults({"/files/stream.bin": {"mode": "no-length"}})
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertEqual(read(os.path.join(self.install, "stream.bin")), b"S" * 30000)

    def test_read_only_game_file_fails_the_run_and_stays(self):
        game = os.path.join(self.install, "game.dat")
        for label, listed in (("file", "game.dat"), ("archive entry", "patch.zip")):
            with self.subTest(way=label):
                self.installed("100")
                write(game, "old game data")
                os.chmod(game, 0o444)
                self.addCleanup(os.chmod, game, 0o644)
                self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=%s\r\n" % listed)
                self.serve("game.dat", b"N" * 20000)
                self.serve("patch.zip", zip_bytes([("game.dat", b"N" * 20000, zipfile.ZIP_DEFLATED),
                                                   ("other.txt", b"other", zipfile.ZIP_STORED)]))
                code, out = self.run_patcher()
                self.assertEqual(code, 1, out)
                self.assertIn(FAILURE, out)
                self.assertEqual(read(game), b"old game data")
                self.assertEqual(self.recorded_version(), "100")
                self.assert_clean_install()
                os.chmod(game, 0o644)

    def test_second_run_on_the_same_install_exits_1_and_changes_nothing(self):
        self.installed("100")
        write(os.path.join(self.install, "big.bin"), "old big")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n")
        self.serve("big.bin", b"B" * 200000)
        self.server.set_faults({"/files/big.bin": {"mode": "slow", "delay": 0.05, "chunk": 4096}})
        first = subprocess.Popen(self.command(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: first.poll() is None and first.kill())
        deadline = time.time() + 60
        while time.time() < deadline and not any(f.endswith(".qrtmp") for f in files_under(self.install)):
            time.sleep(0.05)
        self.assertIsNone(first.poll(), "the first run is still downloading")
        code, out, err = qrtest.run(self.command(), wine=False)
        self.assertEqual(code, 1, out)
        self.assertIn("another patch run", err)
        lists = [r for r in self.server.seen() if r["path"] == "/tzan/patch.txt"]
        self.assertEqual(len(lists), 1, "the second run fetched nothing")
        self.assertIsNone(first.poll(), "the first run goes on")
        out, _ = first.communicate(timeout=120)
        self.assertEqual(first.returncode, 0, out)
        self.assertEqual(read(os.path.join(self.install, "big.bin")), b"B" * 200000)
        self.assertEqual(self.recorded_version(), "101")
        self.assert_clean_install()
        # The install directory is free again once the first run has ended.
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)

    def test_patcher_in_the_install_directory_patches_itself(self):
        name = os.path.basename(qrtest.OPTIONS.binary)
        program = os.path.join(self.install, name)
        shutil.copy(qrtest.OPTIONS.binary, program)
        new_program = read(qrtest.OPTIONS.binary) + b"QUORVEL-NEW-PATCHER"  # bytes after the image: still runs
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=%s\r\n1=after.txt\r\n" % name)
        self.serve(name, new_program)
        self.serve("after.txt", "after")
        cmd = self.command()
        cmd[cmd.index(qrtest.OPTIONS.binary)] = program
        code, out, _ = qrtest.run(cmd, wine=False)
        self.assertEqual(code, 0, out)
        self.assertEqual(read(program), new_program)
        self.assertEqual(read(program + ".old"), read(qrtest.OPTIONS.binary))  # the running file, moved aside
        self.assertEqual(read(os.path.join(self.install, "after.txt")), b"after")
        self.assertEqual(self.recorded_version(), "101")
        # The next start is the new program's; it removes what was moved aside. (Natively the new file
        # took the name of one moved aside, so it had no permissions to inherit.)
        if not qrtest.OPTIONS.wine:
            os.chmod(program, 0o755)
        code, out, _ = qrtest.run(cmd, wine=False)
        self.assertEqual(code, 0, out)
        self.assertFalse(os.path.exists(program + ".old"))
        self.assert_clean_install()

    def test_install_directory_named_relative_to_the_current_one(self):
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=a.txt\r\n")
        self.serve("a.txt", "new a")
        cmd = self.command()
        cmd[cmd.index(qrtest.host_path(self.install))] = os.path.basename(self.install)
        code, out, _ = qrtest.run(cmd, wine=False, cwd=os.path.dirname(self.install))
        self.assertEqual(code, 0, out)
        self.assertEqual(read(os.path.join(self.install, "a.txt")), b"new a")
        self.assertEqual(self.recorded_version(), "101")

    def test_unreachable_description_and_server_down(self):
        self.installed("100")
        self.server.set_faults({"/tzan/PatchInfo.ini": {"mode": "status", "status": 404}})
        code, out = self.run_patcher()
        self.assertEqual(code, 1, out)
        self.assertIn(RUN_AGAIN, out)
        self.assertIn(INFO_FAILED, out)
        self.assertIn("the patch description could not be fetched: the server answered 404", out)
        self.assert_clean_install()
        self.server.stop()
        cmd = self.command()
        cmd[cmd.index("--patch-list") + 1] = "http://127.0.0.1:9/tzan/patch.txt"
        code, out, _ = qrtest.run(cmd, wine=False)
        self.assertEqual(code, 1)
        self.assertIn(INFO_FAILED, out)
        self.assertIn(RUN_FAILED + "the patch description could not be fetched", out)
        self.assertEqual(self.recorded_version(), "100")
        runs = self.run_log().split("=== run started ")[1:]
        self.assertEqual(len(runs), 2, self.run_log())
        self.assertIn("served version: (unknown)\r\nresult: failed, no usable patch description\r\n"
                      "reason: the patch description could not be fetched: ", runs[1])

    def test_show_log_without_runs(self):
        code, out = self.run_patcher("--show-log")
        self.assertEqual(code, 1, out)
        self.assertIn("no run has been logged", out)
        self.assertEqual(files_under(self.install), [])

    def test_missing_version_file_is_a_version_error(self):
        self.description("[VERSION]\r\nversion=101\r\n")
        code, out = self.run_patcher()
        self.assertEqual(code, 1, out)
        self.assertIn(VERSION_ERROR, out)
        self.assertEqual(files_under(self.install), [])

    def test_usage_errors_exit_2_and_help_exits_0(self):
        wrong_connections = [["--install-dir", qrtest.host_path(self.install), "--connections", n] for n in ("0", "17", "x")]
        for args in [[], ["--install-dir"], ["--bogus"], ["--install-dir", qrtest.host_path(self.install + "/none")]] + \
                wrong_connections:
            with self.subTest(args=args):
                code, _, err = qrtest.run([qrtest.OPTIONS.binary] + args, timeout=60)
                self.assertEqual(code, 2)
                self.assertIn("usage: quorvel-patch", err)
        for args in (["--help"], ["-h"], ["--verify", "--help"]):
            with self.subTest(args=args):
                code, out, _ = qrtest.run([qrtest.OPTIONS.binary] + args, timeout=60)
                self.assertEqual(code, 0, out)
                self.assertIn("usage: quorvel-patch", out)
                self.assertIn("--repair", out)
                self.assertIn("Exit status", out)
        self.assertEqual(files_under(self.install), [])

    def test_address_priority_option_over_environment(self):
        self.installed("101")
        self.description("[VERSION]\r\nversion=101\r\n")
        env = {"QUORVEL_PATCH_LIST_URL": "http://127.0.0.1:9/tzan/patch.txt"}
        code, out = self.run_patcher(env=env)  # --patch-list given: the environment loses
        self.assertEqual(code, 0, out)
        cmd = self.command()
        i = cmd.index("--patch-list")
        del cmd[i:i + 2]
        code, out, _ = qrtest.run(cmd, env={"QUORVEL_PATCH_LIST_URL": self.url("/tzan/patch.txt")}, wine=False)
        self.assertEqual(code, 0, out)

    def test_stop_in_the_middle_of_a_slow_download(self):
        if qrtest.OPTIONS.wine:
            self.skipTest("signals do not reach a program under wine")
        self.installed("100")
        write(os.path.join(self.install, "big.bin"), "old big")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n")
        self.serve("big.bin", b"B" * 400000)
        self.server.set_faults({"/files/big.bin": {"mode": "slow", "delay": 0.05, "chunk": 2048}})
        proc = subprocess.Popen(self.command(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.time() + 30
        while time.time() < deadline and not any(f.endswith(".qrtmp") for f in files_under(self.install)):
            time.sleep(0.05)
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        started = time.time()
        proc.wait(20)
        self.assertLess(time.time() - started, 5, "the worker ends promptly")
        self.assertEqual(proc.returncode, 1)
        out = proc.stdout.read().decode("utf-8", "replace")
        self.assertEqual(qrtest.closing_line(out), qrtest.STOPPED)
        self.assertEqual(read(os.path.join(self.install, "big.bin")), b"old big")
        self.assertEqual(self.recorded_version(), "100")
        self.assert_clean_install()
        # What arrived before the stop waits for the next run.
        self.assertTrue(os.path.exists(os.path.join(self.install, "big.bin.qrpart")))

    def test_names_as_tools_write_them_reach_the_version(self):
        # Items typed as "./x" or "a//b" and a bsdtar archive of "." (every name "./...", a UTF-8
        # Korean name flagged as such): asked for and stored under the names they mean.
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=./data/a.dat\r\n1=data//b.map\r\n"
                         "2=./tree.zip\r\n3=data/a.dat\r\n")
        self.serve("data/a.dat", b"A" * 5000)
        self.serve("data/b.bap", b"B" * 7000)
        tree = os.path.join(self.scratch, "tree")
        write(os.path.join(tree, "data", "c.dat"), b"C" * 9000)
        write(os.path.join(tree, "한글.dat"), "한국어".encode("cp949"))
        os.makedirs(os.path.join(self.served, "files"), exist_ok=True)
        subprocess.run(["bsdtar", "--format", "zip", "-cf", os.path.join(self.served, "files", "tree.zip"), "."],
                       cwd=tree, check=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertIn(SUCCESS, out)
        self.assertEqual(read(os.path.join(self.install, "data", "a.dat")), b"A" * 5000)
        self.assertEqual(read(os.path.join(self.install, "data", "b.map")), b"B" * 7000)
        self.assertEqual(read(os.path.join(self.install, "data", "c.dat")), b"C" * 9000)
        # The launcher's name is code page 949; Wine keeps a Windows name in UTF-8 on this disk.
        korean = "한글.dat".encode("utf-8" if qrtest.OPTIONS.wine else "cp949")
        self.assertIn(korean, os.listdir(os.fsencode(self.install)))
        self.assertEqual(read(os.path.join(os.fsencode(self.install), korean)), "한국어".encode("cp949"))
        self.assertEqual(self.recorded_version(), "101")
        self.assert_clean_install()
        paths = self.server.paths()
        self.assertEqual(paths[:2], ["/tzan/patch.txt", "/tzan/PatchInfo.ini"])
        # Each once, under the name it means; items are fetched several at once, in any order.
        self.assertEqual(sorted(paths[2:]), ["/files/data/a.dat", "/files/data/b.bap", "/files/tree.zip"])

    def test_output_off_a_terminal_is_plain_lines(self):
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=a.bin\r\n")
        self.serve("a.bin", b"A" * 50000)
        code, out = self.run_patcher()
        self.assertEqual(code, 0, out)
        self.assertNotIn("\r", out.replace("\r\n", "\n"))
        self.assertIn("패치정보를 받고 있습니다.", out)
        self.assertIn("a.bin 받는 중", out)

    def test_names_from_the_server_reach_the_console_without_control_characters(self):
        # A hostile name could otherwise retitle or rewrite the player's terminal.
        self.installed("100")
        self.description("[VERSION]\r\nversion=101\r\n[101]\r\n0=x\x1b]2;owned\x07.dat\r\n")
        code, out = self.run_patcher()
        self.assertEqual(code, 1, out)
        self.assertNotIn("\x1b", out)
        self.assertNotIn("\x07", out)
        self.assertIn("x\\x1B]2;owned\\x07.dat", out)


if __name__ == "__main__":
    qrtest.main(("--binary", {"required": True}))
