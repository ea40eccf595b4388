#!/usr/bin/env python3
"""quorvel-patch on installs one and two versions behind a release that quorvel-publish made with deltas:
the changed file is rebuilt from the player's copy, and a modified copy, a damaged, wrong or missing delta
each fall back to the file compressed whole, and that to the plain file, in the same run. Names that only
archives bring come alone the same way, the archive only when one of them cannot. Every run ends with the
install exactly at the tree. The releases are signed: the build with the demo key beside --binary uses their
delta lines, and refuses a description whose lines were changed after signing. A launcher from before deltas
(--old-binary, native, built by scripts/build-old-launcher.sh) patches the same releases.

  test_delta_updates.py --binary PATH --publish PATH --old-binary PATH [--wine]
"""

import os
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import qrtest  # noqa: E402
from qrtest import delta_lines, delta_tree, make_tree, read, read_tree, write  # noqa: E402

GAME = "QuorvelRPG.bin"
WHOLE_GAME = "/tzan/patch/" + GAME


class DeltaRelease:
    """Versions 101 to 103 of delta_tree published with deltas, served by the test server; the cases
    here hold for plain items and archives alike."""
    prefix = "quorvel-delta-"
    publish_options = ()

    def setUp(self):
        super().setUp()
        self.release = os.path.join(self.scratch, "release")
        os.makedirs(self.release)
        self.server = qrtest.PatchServer(self.release, os.path.join(self.scratch, "server"))
        self.addCleanup(self.server.stop)
        for version in (101, 102, 103):
            tree = os.path.join(self.scratch, "tree%d" % version)
            make_tree(tree, delta_tree(version - 100))
            code, out, err = qrtest.run([qrtest.OPTIONS.publish, "--release", self.release, "--tree", tree,
                                         "--version", str(version), "--base-url", self.server.base,
                                         "--sign", qrtest.DEMO_KEY] + list(self.publish_options), wine=False)
            self.assertEqual(code, 0, out + err)
        self.served = os.path.join(self.release, "tzan", "patch")

    def install_at(self, version):
        install = os.path.join(self.scratch, "install%d-%d" % (version, len(os.listdir(self.scratch))))
        make_tree(install, delta_tree(version - 100))
        write(os.path.join(install, "VersionInfo.ini"), "[VERSION]\r\nversion=%d\r\n" % version)
        return install

    def run_patcher(self, install, binary=None, wine=None):
        """Runs the patcher; returns its exit code, output and the file paths it asked for."""
        before = len(self.server.seen())
        code, out, _ = qrtest.run([binary or qrtest.OPTIONS.binary, "--install-dir", qrtest.host_path(install, wine),
                                   "--patch-list", self.server.url("/tzan/patch.txt")], wine=wine)
        return code, out, [r["path"] for r in self.server.seen()[before:] if r["path"].startswith("/tzan/patch/")]

    def patch(self, install, binary=None, wine=None):
        """Runs the patcher to success; returns its output and the file paths it asked for."""
        code, out, asked = self.run_patcher(install, binary, wine)
        self.assertEqual(code, 0, out)
        files = read_tree(install)
        files.pop(qrtest.RUN_LOG, None)
        self.assertIn("version=103", files.pop("VersionInfo.ini").decode().replace(" ", ""))
        self.assertEqual(files, delta_tree(3), install)
        return out, asked

    def offer(self, name=GAME):
        """The name's compressed whole record and its delta records in the newest version."""
        return delta_lines(qrtest.patch_info(self.release), 103)[name][1:]

    def test_a_kept_part_of_a_compressed_file_is_resumed_not_swept(self):
        whole, _ = self.offer()
        compressed = "/tzan/patch/" + whole[3]
        with urllib.request.urlopen(urllib.request.Request(self.server.url(compressed), method="HEAD")) as r:
            validator = r.headers["ETag"] or r.headers["Last-Modified"]
        install = os.path.join(self.scratch, "broken-off")
        write(os.path.join(install, "VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n")
        # What a stop in the middle of the compressed file leaves: half of it beside its record.
        kept = read(os.path.join(self.served, whole[3]))[:int(whole[2]) // 2]
        write(os.path.join(install, GAME + ".qrzst.qrtmp"), kept)
        write(os.path.join(install, GAME + ".qrzst.qrpart"),
              "QRPART 1\naddress=%s\nbytes=%d\nvalidator=%s\nsaved=%d\n" % (
                  self.server.url(compressed), len(kept), validator, int(time.time())))
        before = len(self.server.seen())
        self.patch(install)
        asked = [r for r in self.server.seen()[before:] if r["path"] == compressed]
        self.assertEqual([r.get("range") for r in asked], ["bytes=%d-" % len(kept)])

    def test_a_launcher_from_before_deltas_patches_the_same_releases(self):
        old = qrtest.OPTIONS.old_binary
        self.assertTrue(os.path.exists(old), old + " is missing: scripts/build-old-launcher.sh builds it")
        fresh = os.path.join(self.scratch, "fresh-old")
        write(os.path.join(fresh, "VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n")
        for install in (fresh, self.install_at(101), self.install_at(102)):
            with self.subTest(install=os.path.basename(install)):
                _, asked = self.patch(install, old, wine=False)
                self.assertEqual([p for p in asked if p.endswith((".qrdelta", ".qrzst"))], [])


class DeltaUpdates(DeltaRelease, qrtest.ScratchCase):
    def test_installs_behind_are_rebuilt_from_their_own_copy(self):
        # A new install has no copy to start from: the file comes compressed, never the plain item.
        install = os.path.join(self.scratch, "fresh")
        write(os.path.join(install, "VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n")
        out, asked = self.patch(install)
        self.assertNotIn(WHOLE_GAME, asked)
        self.assertIn("zstd     " + GAME + ": ", out)
        for version in (101, 102):
            with self.subTest(version=version):
                out, asked = self.patch(self.install_at(version))
                self.assertNotIn(WHOLE_GAME, asked)
                used = [path for path in asked if path.endswith(".qrdelta")]
                self.assertEqual(len(used), 1, asked)
                self.assertLess(self.server.sent(used[0]), len(delta_tree(3)[GAME]) // 20)
                self.assertIn("delta    " + GAME + ": ", out)

    def test_an_install_three_versions_behind_uses_a_delta_too(self):
        # Version 104 on top: with K = 3 its line offers deltas from 103, 102 and 101.
        tree = os.path.join(self.scratch, "tree104")
        make_tree(tree, delta_tree(4))
        code, out, err = qrtest.run([qrtest.OPTIONS.publish, "--release", self.release, "--tree", tree, "--version",
                                     "104", "--base-url", self.server.base, "--sign", qrtest.DEMO_KEY], wine=False)
        self.assertEqual(code, 0, out + err)
        self.assertEqual(len(delta_lines(qrtest.patch_info(self.release), 104)[GAME][2]), 3)
        install = self.install_at(101)
        code, out, asked = self.run_patcher(install)
        self.assertEqual(code, 0, out)
        self.assertNotIn(WHOLE_GAME, asked)
        self.assertEqual(len([path for path in asked if path.endswith(".qrdelta")]), 1, asked)
        files = read_tree(install)
        files.pop(qrtest.RUN_LOG, None)
        self.assertIn("version=104", files.pop("VersionInfo.ini").decode().replace(" ", ""))
        self.assertEqual(files, delta_tree(4))

    def test_every_delta_that_does_not_work_out_falls_back_to_the_whole_file(self):
        whole, deltas = self.offer()  # deltas: newest source first, 102, then 101
        compressed = "/tzan/patch/" + whole[3]
        from102 = os.path.join(self.served, deltas[0][5])
        info_path = os.path.join(self.release, "tzan", "PatchInfo.ini")
        description = read(info_path)

        def modified_copy(install):
            data = bytearray(read(os.path.join(install, GAME)))
            data[5] ^= 1
            write(os.path.join(install, GAME), bytes(data))

        def damaged_delta(_):
            data = bytearray(read(from102))
            data[len(data) // 2] ^= 1
            write(from102, bytes(data))

        def missing_delta(_):
            os.remove(from102)

        def delta_of_another_source(_):
            # The line for the 102 copy names the delta made from 101, with that file's true digest: it
            # arrives whole and intact, but cannot rebuild the newest content from this copy.
            text = description.decode("ascii")
            wrong = " ".join(deltas[1][3:6])
            text = text.replace(" ".join(deltas[0][3:6]), wrong, 1)
            write(info_path, text)

        for fault in (modified_copy, damaged_delta, missing_delta, delta_of_another_source):
            with self.subTest(fault=fault.__name__):
                kept = read(from102)
                install = self.install_at(102)
                fault(install)
                _, asked = self.patch(install)
                self.assertIn(compressed, asked)
                self.assertNotIn(WHOLE_GAME, asked)
                # Only a copy no delta starts from skips the delta; every other fault was tried first.
                tried = any(path.endswith(".qrdelta") for path in asked)
                self.assertEqual(tried, fault is not modified_copy, asked)
                write(from102, kept)
                write(info_path, description)
        # A damaged compressed file too: the plain item, as old launchers fetch it.
        compressed_path = os.path.join(self.served, whole[3])
        kept = read(compressed_path)
        write(compressed_path, kept[:-1])
        install = self.install_at(102)
        modified_copy(install)
        _, asked = self.patch(install)
        self.assertEqual([compressed, WHOLE_GAME], [p for p in asked if p in (compressed, WHOLE_GAME)])
        write(compressed_path, kept)

    def test_with_a_key_only_the_signed_delta_lines_count(self):
        keyed = os.path.join(os.path.dirname(qrtest.OPTIONS.binary),
                             "quorvel-patch-demokey" + (".exe" if qrtest.OPTIONS.wine else ""))
        _, asked = self.patch(self.install_at(102), keyed)
        self.assertEqual([p for p in asked if p.endswith(".qrdelta")], ["/tzan/patch/" + self.offer()[1][0][5]])
        # A mirror that points the 102 copy at another delta, or adds a line for a name, changes signed bytes.
        info_path = os.path.join(self.release, "tzan", "PatchInfo.ini")
        description = read(info_path).decode("ascii")
        _, deltas = self.offer()
        for name, text in (("another delta", description.replace(" ".join(deltas[0][3:6]), " ".join(deltas[1][3:6]), 1)),
                           ("an added line", description + "[103.deltas.9]\r\ndata/new.dat=%s 5;zstd %s 9 x.qrzst\r\n" % (
                               "0" * 64, "1" * 64))):
            with self.subTest(tampered=name):
                self.assertNotEqual(text, description)
                write(info_path, text)
                install = self.install_at(102)
                before = read_tree(install)
                code, out, asked = self.run_patcher(install, keyed)
                self.assertEqual(code, 1, out)
                self.assertIn(qrtest.INFO_FAILED, out)
                self.assertEqual(asked, [])
                after = read_tree(install)
                after.pop(qrtest.RUN_LOG, None)
                self.assertEqual(after, before)
        write(info_path, description)



class NamesInsideArchives(DeltaRelease, qrtest.ScratchCase):
    """Every version brings its names in its archive only (--archive)."""
    publish_options = ("--archive",)

    @staticmethod
    def archives(asked):
        return [path for path in asked if path.endswith(".zip")]

    def test_every_name_an_archive_lands_comes_alone(self):
        install = os.path.join(self.scratch, "fresh")
        write(os.path.join(install, "VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n")
        out, asked = self.patch(install)
        self.assertEqual([], self.archives(asked))
        for name in (GAME, "data/small.txt", "data/same.dat"):
            self.assertIn("zstd     " + name + ": ", out)
        for version in (101, 102):
            with self.subTest(version=version):
                out, asked = self.patch(self.install_at(version))
                self.assertEqual([], self.archives(asked))
                self.assertEqual(1, len([path for path in asked if path.endswith(".qrdelta")]), asked)
                self.assertIn("delta    " + GAME + ": ", out)
                self.assertIn("zstd     data/small.txt: ", out)
        # A file already at its newest content is not asked for at all.
        install = self.install_at(102)
        write(os.path.join(install, "data", "small.txt"), delta_tree(3)["data/small.txt"])
        _, asked = self.patch(install)
        small = "/tzan/patch/" + self.offer("data/small.txt")[0][3]
        self.assertNotIn(small, asked)
        self.assertEqual([], self.archives(asked))

    def test_a_file_that_cannot_come_alone_brings_the_archive_in_the_same_run(self):
        small_path = os.path.join(self.served, self.offer("data/small.txt")[0][3])
        delta_path = os.path.join(self.served, self.offer()[1][0][5])  # from 102

        def damaged(path):
            data = bytearray(read(path))
            data[len(data) // 2] ^= 1
            write(path, bytes(data))

        # The game comes first (its delta is applied), then the small file fails: nothing that came
        # alone stays behind, and the archive lands both.
        for fault in (damaged, os.remove):
            with self.subTest(fault=fault.__name__):
                kept = read(small_path)
                fault(small_path)
                _, asked = self.patch(self.install_at(102))
                self.assertEqual(["/tzan/patch/patch103.zip"], self.archives(asked))
                write(small_path, kept)
        # A damaged delta falls back to that name's compressed whole, not to the archive.
        kept = read(delta_path)
        damaged(delta_path)
        _, asked = self.patch(self.install_at(102))
        self.assertEqual([], self.archives(asked))
        self.assertIn("/tzan/patch/" + self.offer()[0][3], asked)
        write(delta_path, kept)


if __name__ == "__main__":
    qrtest.main(("--binary", {"required": True}), ("--publish", {"required": True}), ("--old-binary", {"required": True}))
