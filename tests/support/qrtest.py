"""The rig the end-to-end scripts share: our patch server (plain or HTTPS) and nginx on loopback, the
wine wrapper, trees of files, and an install beside a served release for quorvel-patch runs.

A script puts tests/support on sys.path, imports this module and ends with qrtest.main(...), which
parses --wine and the script's own options into qrtest.OPTIONS.
"""

import argparse
import atexit
import configparser
import hashlib
import io
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "patch_server.py")
DEMO_KEY = os.path.join(ROOT, "tools", "demo-keys", "demo-release-key.pem")
DEMO_PUBLIC_KEY = os.path.join(ROOT, "tools", "demo-keys", "demo-release-key.pub.pem")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
MB = 1024 * 1024

# What quorvel-patch prints, byte for byte as the launcher shows it.
SUCCESS = "패치가 완료되었습니다. GAME START 버튼을 눌러주세요."
FAILURE = "패치가 실패하였습니다. 다시 실행하시기 바랍니다."
RUN_AGAIN = "다시 실행 하시기 바랍니다."
INFO_FAILED = "패치 정보를 받는데 실패했습니다. 다시 실행 하시기 바랍니다."
VERSION_ERROR = "버전 정보가 이상합니다. 다시 설치하여 주시기 바랍니다"
# quorvel-patch's own words, in English beside the window's texts above.
PATCHED_TO = "patched to version %s"
RUN_FAILED = "the patch run failed: "
STOPPED = "stopped; the next run goes on from here"
RUN_LOG = "QuorvelLauncher.log"


def closing_line(out):
    """The last line a run printed (progress lines on a terminal are rewritten, not ended)."""
    lines = [line for line in out.splitlines() if line.strip()]
    return lines[-1] if lines else ""

OPTIONS = argparse.Namespace(wine=False)


def main(*options):
    """Parses --wine and `options` (pairs of flag and add_argument keywords), then runs the cases."""
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", action="store_true")
    for flag, keywords in options:
        parser.add_argument(flag, **keywords)
    OPTIONS, rest = parser.parse_known_args()
    if OPTIONS.wine:
        prepare_wine()
        keep_wine_running()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


# -- releases with deltas ------------------------------------------------------------------------
def noise(seed, size):
    return random.Random(seed).randbytes(size)


def patch_info(release):
    """The served PatchInfo.ini of a release folder, parsed."""
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read_string(read(os.path.join(release, "tzan", "PatchInfo.ini")).decode("ascii"))
    return parser


def edited_game(version):
    """A 400 KB game file, each version an edit of the one before (what deltas are for)."""
    data = bytearray(noise(50, 200000) + b"quorvel text " * 16000)
    for v in range(2, version + 1):
        data[v * 1000:v * 1000] = noise(50 + v, 700)
        data[-5000 * v:-5000 * v + 300] = noise(70 + v, 300)
    return bytes(data)


def delta_tree(version):
    return {"QuorvelRPG.bin": edited_game(version), "data/small.txt": b"tiny %d" % version,
            "data/same.dat": b"unchanged " * 4000}


def delta_lines(info, version):
    """name -> (newest "sha size", whole record, [delta records]) from the version's delta sections."""
    lines = {}
    for section in info.sections():
        if not section.startswith("%d.deltas." % version):
            continue
        for name, value in info[section].items():
            records = value.split(";")
            wholes = [r.split(" ") for r in records[1:] if r.startswith("zstd ")]
            deltas = [r.split(" ") for r in records[1:] if r.startswith("zstd-delta ")]
            lines[name] = (records[0], wholes[0] if wholes else None, deltas)
    return lines


# -- files and trees ---------------------------------------------------------------------------
def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def files_under(top):
    """Every file below top as a sorted list of "/"-separated names."""
    out = []
    for d, _, names in os.walk(top):
        for n in names:
            out.append(os.path.relpath(os.path.join(d, n), top).replace(os.sep, "/"))
    return sorted(out)


def read_tree(top):
    """name -> bytes of every file below top."""
    return {name: read(os.path.join(top, *name.split("/"))) for name in files_under(top)}


def make_tree(top, tree):
    """Writes name -> bytes below top, replacing what was there."""
    shutil.rmtree(top, ignore_errors=True)
    os.makedirs(top)
    for name, data in tree.items():
        write(os.path.join(top, *name.split("/")), data)


def digest_line(data):
    """A hash line as the release description carries it."""
    return "%s %d" % (hashlib.sha256(data).hexdigest(), len(data))


def zip_bytes(entries, method=zipfile.ZIP_DEFLATED):
    """An archive of (name, data) or (name, data, method) entries, in that order."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for entry in entries:
            name, data = entry[0], entry[1]
            z.writestr(zipfile.ZipInfo(name), data, compress_type=entry[2] if len(entry) > 2 else method)
    return buf.getvalue()


def sign(path, key=DEMO_KEY):
    """path.sig as the publisher's operator would make it with openssl."""
    subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, "-out", path + ".sig", path], check=True)


# -- processes ---------------------------------------------------------------------------------
def prepare_wine():
    """The private prefix of scripts/wine-env.sh, when the caller has not sourced it already."""
    if "WINEPREFIX" in os.environ:
        return
    p = subprocess.run(["bash", "-c", 'source "$0" && wine_prepare_prefix && env -0',
                        os.path.join(ROOT, "scripts", "wine-env.sh")], capture_output=True, check=True)
    for pair in p.stdout.split(b"\0"):
        name, _, value = pair.decode("utf-8", "replace").partition("=")
        if name.startswith("WINE"):
            os.environ[name] = value


def keep_wine_running():
    """Keeps the prefix's Wine server and service processes up until this script ends. Left to
    themselves they end a few seconds after each run and every later run starts them again (seconds
    each), and a service started by a run whose output is captured holds that pipe open: so they are
    started here, on no pipe of ours. Ended at exit only when this script started them."""
    if subprocess.run([WINESERVER, "-p"]).returncode != 0:
        return  # a server of this prefix is running already; it is not ours to end
    atexit.register(subprocess.run, [WINESERVER, "-k"])
    subprocess.run([WINE, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def host_command(cmd, wine=None):
    """cmd as run on this host: under wine64 with --wine (or wine=True)."""
    return ([WINE] + list(cmd)) if (OPTIONS.wine if wine is None else wine) else list(cmd)


def host_path(path, wine=None):
    """The path as the program sees it (a Z: path under wine)."""
    return "Z:" + path.replace("/", "\\") if (OPTIONS.wine if wine is None else wine) else path


def without_wine_noise(text):
    return "".join(line for line in text.splitlines(True) if ":fixme:" not in line)


def run(cmd, timeout=300, env=None, wine=None, cwd=None):
    """Runs cmd to its end; returns (exit code, stdout, stderr) as text."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    p = subprocess.run(host_command(cmd, wine), capture_output=True, timeout=timeout, env=full_env, cwd=cwd)
    return (p.returncode, p.stdout.decode("utf-8", "replace"),
            without_wine_noise(p.stderr.decode("utf-8", "replace")))


def progress_on_terminal(cmd, wanted, pattern, timeout=120):
    """Runs cmd (natively) on a pseudo terminal, so it shows its live progress line, until `wanted`
    matches of the regular expression `pattern` were printed; then stops it. Returns the matches."""
    import pty
    import re
    import select
    master, slave = pty.openpty()
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
    os.close(slave)
    text, found = "", []
    deadline = time.time() + timeout
    try:
        while len(found) < wanted and time.time() < deadline and proc.poll() is None:
            if select.select([master], [], [], 0.2)[0]:
                try:
                    text += os.read(master, 65536).decode("utf-8", "replace")
                except OSError:
                    break
                found = re.findall(pattern, text)
    finally:
        if proc.poll() is None:
            proc.send_signal(signal.SIGINT)
            try:
                proc.wait(30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        os.close(master)
    return found[:wanted]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc=None, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline and (proc is None or proc.poll() is None):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


# -- servers -----------------------------------------------------------------------------------
class PatchServer:
    """tools/patch_server.py on loopback with its fault modes, a request log and a count of the bytes
    it sent, all through files in `scratch`; with tls, HTTPS with a certificate made for 127.0.0.1."""

    def __init__(self, root, scratch, port=0, tls=False):
        os.makedirs(scratch, exist_ok=True)
        self.faults = os.path.join(scratch, "faults.json")
        self.requests = os.path.join(scratch, "requests.jsonl")
        self.stats = os.path.join(scratch, "stats.jsonl")
        self.set_faults({})
        args = [sys.executable, SERVER, "--root", root, "--port", str(port), "--faults", self.faults,
                "--requests", self.requests, "--stats", self.stats, "--exit-on-stdin-eof"]
        if tls:
            self.cert = os.path.join(scratch, "cert.pem")
            key = os.path.join(scratch, "cert-key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                            "-nodes", "-keyout", key, "-out", self.cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                            "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
            args += ["--tls-cert", self.cert, "--tls-key", key]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        assert line and line[0] == "READY", line
        self.port = int(line[1])
        self.base = "%s://127.0.0.1:%d" % ("https" if tls else "http", self.port)

    def url(self, path):
        return self.base + path

    def set_faults(self, faults):
        with open(self.faults + ".tmp", "w") as f:
            json.dump(faults, f)
        os.replace(self.faults + ".tmp", self.faults)

    def seen(self):
        """Every request so far, as the server logged it."""
        if not os.path.exists(self.requests):
            return []
        with open(self.requests) as f:
            return [json.loads(line) for line in f if line.strip()]

    def paths(self):
        return [r["path"] for r in self.seen()]

    def sent(self, path):
        """Body bytes sent for path, over every response so far."""
        if not os.path.exists(self.stats):
            return 0
        with open(self.stats) as f:
            return sum(e["bytes"] for e in map(json.loads, f) if e["path"] == path)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()


class Nginx:
    """nginx-light with its own configuration on loopback; every path it writes is under `folder`,
    and its access log names each response's path, status and body bytes."""

    def __init__(self, root, folder, port=None, ignore_ranges=False):
        self.port = port or free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        os.makedirs(folder, exist_ok=True)
        self.log = os.path.join(folder, "access.log")
        error_log = os.path.join(folder, "error.log")
        temps = "".join("    %s_temp_path %s;\n" % (kind, os.path.join(folder, kind))
                        for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        conf = os.path.join(folder, "nginx.conf")
        write(conf, (
            "%sdaemon off;\nworker_processes 1;\npid %s;\nerror_log %s;\n"
            "events { worker_connections 64; }\n"
            "http {\n    log_format sent '$uri $status $body_bytes_sent';\n    access_log %s sent;\n%s"
            "    types { text/plain txt ini; application/zip zip; }\n"
            "    default_type application/octet-stream;\n"
            "    server {\n        listen 127.0.0.1:%d;\n        root %s;\n%s    }\n}\n") % (
            "user root;\n" if os.geteuid() == 0 else "", os.path.join(folder, "nginx.pid"), error_log,
            self.log, temps, self.port, root, "        max_ranges 0;\n" if ignore_ranges else ""))
        self.proc = subprocess.Popen([NGINX, "-p", folder, "-c", conf, "-e", error_log],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not wait_for_port(self.port, self.proc):
            self.stop()
            raise RuntimeError("nginx did not start: %s" % self.proc.stderr.read().decode())

    def url(self, path):
        return self.base + path

    def sent(self, path):
        if not os.path.exists(self.log):
            return 0
        with open(self.log) as f:
            return sum(int(count) for uri, _, count in (line.split() for line in f) if uri == path)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stderr.close()


# -- cases -------------------------------------------------------------------------------------
class ScratchCase(unittest.TestCase):
    """A case with its own scratch folder, removed afterwards."""
    prefix = "quorvel-"

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix=self.prefix)
        self.addCleanup(shutil.rmtree, self.scratch, True)


class InstallCase(ScratchCase):
    """An install directory and a release served by our patch server (self.server), with the patch
    list in place; runs OPTIONS.binary (quorvel-patch) on the install."""

    def setUp(self):
        super().setUp()
        self.served = os.path.join(self.scratch, "server")
        self.install = os.path.join(self.scratch, "install")
        os.makedirs(self.install)
        os.makedirs(self.served)
        self.server = self.start_server()
        self.addCleanup(lambda: self.server and self.server.stop())
        write(os.path.join(self.served, "tzan", "patch.txt"),
              "[PATCH]\r\ninfo=%s\r\nnews=%s\r\nbase=%s\r\n" % (
                  self.url("/tzan/PatchInfo.ini"), self.url("/news.html"), self.url("/files")))

    def start_server(self):
        return PatchServer(self.served, self.scratch)

    def url(self, path):
        return self.server.url(path)

    def installed(self, version):
        write(os.path.join(self.install, "VersionInfo.ini"), "[VERSION]\r\nversion=%s\r\n" % version)

    def description(self, text):
        write(os.path.join(self.served, "tzan", "PatchInfo.ini"), text)

    def serve(self, name, data):
        write(os.path.join(self.served, "files", name), data)

    def recorded_version(self):
        text = read(os.path.join(self.install, "VersionInfo.ini")).decode("cp949")
        for line in text.splitlines():
            if line.strip().lower().startswith("version"):
                return line.split("=", 1)[1].strip()
        return None

    def run_log(self):
        """The install's run log as text; empty when there is none."""
        path = os.path.join(self.install, RUN_LOG)
        return read(path).decode("cp949", "replace") if os.path.exists(path) else ""

    def partial(self, name):
        """The kept bytes of a broken download of name and their record."""
        return os.path.join(self.install, name + ".qrtmp"), os.path.join(self.install, name + ".qrpart")

    def command(self, *extra, binary=None):
        return host_command([binary or OPTIONS.binary, "--install-dir", host_path(self.install),
                             "--patch-list", self.url("/tzan/patch.txt")] + list(extra))

    def run_patcher(self, *extra, env=None, binary=None, timeout=300):
        code, out, _ = run(self.command(*extra, binary=binary), timeout, env, wine=False)
        return code, out

    def assert_clean_install(self):
        # A broken download may keep its partial file for the next run, but only beside its record.
        present = set(files_under(self.install))
        left = [f for f in present
                if (f.endswith(".qrtmp") and f[:-len(".qrtmp")] + ".qrpart" not in present)
                or f.endswith(".qrnew") or f in ("patch.txt", "PatchInfo.ini")]
        self.assertEqual(left, [])
