#!/usr/bin/env python3
"""A small patch server for demos and tests: serves a directory over HTTP/1.1 on 127.0.0.1.

Every file response carries Content-Length. Per-path fault modes come from a JSON file that is
read again on every request, so a test can change them while the server runs:

  {"/tzan/x": {"mode": "status", "status": 500}}           that status with an HTML body
  {"/tzan/x": {"mode": "drop", "after": 100}}              true length, 100 bytes, then close
  {"/tzan/x": {"mode": "slow", "delay": 0.05, "chunk": 1024}}  true length, paced body (at full speed once lifted)
  {"/tzan/x": {"mode": "no-length"}}                       no Content-Length, body until close
  {"/tzan/x": {"mode": "wrong-length", "length": 10}}      announces 10, sends the real body
  {"/tzan/x": {"mode": "hang", "seconds": 600}}            true length, then nothing
  {"/tzan/x": {"mode": "ignore-range"}}                    always the whole file with 200
  {"/tzan/x": {"mode": "no-validator"}}                    neither ETag nor Last-Modified
  {"/tzan/x": {"mode": "endless", "chunk": 4096, "delay": 0}}  no length, bytes until the client leaves
  (with "limit": N the server gives up after N bytes, for a client that reads on after it gave up)
  {"/tzan/x": {"mode": "gzip"}}                             gzip transfer when the client accepts it
  {"/tzan/x": {"mode": "redirect", "location": "http://..", "status": 302}}
  {"/tzan/x": {"mode": "auth", "schemes": ["NTLM", "Negotiate"]}}  401 asking to log on
  (any mode may add "validators": false for the same, and "before": 0.5 to wait that many seconds
  before answering, so that completions can be reordered)

With --gzip every file is sent gzip-compressed to a client that accepts it (not for ranges).
Each request line in --requests names its connection ("connection": "c<N>", numbered from 1 per
server), so a test counts the connections a client opened.

Files carry an ETag and Last-Modified, and "Range: bytes=N-" (or N-M) is answered with 206 and a
Content-Range, or 416 when it lies past the end; "If-Range" with a validator that no longer matches
brings the whole file with 200. "drop" counts its bytes from the start of the body it sends.
With --stats, one JSON line per response tells the path, the status and the body bytes sent.

Prints "READY <port>" on stdout once listening. Only standard library modules are used.
"""

import argparse
import email.utils
import gzip
import itertools
import json
import re
import os
import signal
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTENT_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".htm": "text/html; charset=utf-8",
    ".txt": "text/plain",
    ".ini": "text/plain",
}


class PatchServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, options):
        super().__init__(address, PatchRequestHandler)
        self.root = os.path.realpath(options.root)
        self.faults_path = options.faults
        self.requests_path = options.requests
        self.stats_path = options.stats
        self.gzip_all = options.gzip
        self.connection_numbers = itertools.count(1)
        self.log_file = open(options.log, "a", encoding="utf-8") if options.log else None
        self.record_lock = threading.Lock()
        self.stopping = threading.Event()

    def faults(self):
        # A missing or half-written file means no faults; writers replace it atomically anyway.
        if not self.faults_path:
            return {}
        try:
            with open(self.faults_path, "r", encoding="utf-8") as f:
                data = json.load(f)
            return data if isinstance(data, dict) else {}
        except (OSError, ValueError):
            return {}

    def record(self, entry):
        if not self.requests_path:
            return
        line = json.dumps(entry, ensure_ascii=True) + "\n"
        with self.record_lock, open(self.requests_path, "a", encoding="ascii") as f:
            f.write(line)
            f.flush()

    def record_sent(self, entry):
        if not self.stats_path:
            return
        line = json.dumps(entry, ensure_ascii=True) + "\n"
        with self.record_lock, open(self.stats_path, "a", encoding="ascii") as f:
            f.write(line)
            f.flush()

    def log(self, text):
        if self.log_file:
            with self.record_lock:
                self.log_file.write(text + "\n")
                self.log_file.flush()

    def handle_error(self, request, client_address):
        # Clients that hang up mid-body are normal here (tests drop and stop transfers).
        exc = sys.exc_info()[1]
        if not isinstance(exc, (ConnectionError, TimeoutError)):
            self.log("error from %s: %r" % (client_address[0], exc))


class PatchRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        with self.server.record_lock:
            self.connection_id = "c%d" % next(self.server.connection_numbers)

    def version_string(self):
        return "QuorvelPatchServer/1"

    def log_message(self, fmt, *args):
        self.server.log("%s %s" % (self.address_string(), fmt % args))

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    def respond(self, send_body):
        path = urllib.parse.urlsplit(self.path).path
        entry = {
            "method": self.command,
            "path": path,
            "user_agent": self.headers.get("User-Agent"),
            "cache_control": self.headers.get("Cache-Control"),
            "pragma": self.headers.get("Pragma"),
            "connection": self.connection_id,
        }
        for key, header in (("range", "Range"), ("if_range", "If-Range"), ("accept_encoding", "Accept-Encoding"),
                            ("authorization", "Authorization")):
            if self.headers.get(header) is not None:  # only when sent, so plain requests read as before
                entry[key] = self.headers.get(header)
        self.server.record(entry)
        fault = self.server.faults().get(path)
        if not isinstance(fault, dict):
            fault = None
        if fault and fault.get("before"):
            self.server.stopping.wait(float(fault["before"]))
        mode = fault.get("mode") if fault else None
        if mode == "status":
            self.send_html(int(fault.get("status", 500)), send_body)
            return
        if mode == "redirect":
            self.send_html(int(fault.get("status", 302)), send_body, [("Location", fault.get("location", "/"))])
            return
        if mode == "auth":
            schemes = fault.get("schemes", ["NTLM", "Negotiate"])
            self.send_html(401, send_body, [("WWW-Authenticate", scheme) for scheme in schemes])
            return
        if mode == "endless":
            self.send_endless(fault, send_body)
            return
        file_path = self.local_path(path)
        if file_path is None:
            self.send_html(404, send_body)
            return
        with open(file_path, "rb") as f:
            st = os.fstat(f.fileno())
            self.sent = 0
            self.sent_status = 0
            self.counted = False
            self.path_only = path
            try:
                self.send_file(f, st, fault, send_body)
            finally:
                if not self.counted:
                    self.server.record_sent({"path": path, "status": self.sent_status, "bytes": self.sent})

    def local_path(self, url_path):
        """The regular file under the root that url_path names, or None (also for escapes)."""
        relative = urllib.parse.unquote(url_path, errors="surrogateescape").lstrip("/")
        parts = relative.split("/")
        if any(p in ("", ".", "..") or "\\" in p or "\0" in p for p in parts):
            return None
        candidate = os.path.realpath(os.path.join(self.server.root, *parts))
        if os.path.commonpath([candidate, self.server.root]) != self.server.root:
            return None
        return candidate if os.path.isfile(candidate) else None

    def send_html(self, status, send_body, extra_headers=()):
        reason = self.responses.get(status, ("Error",))[0]
        body = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>"
                "<body><h1>%d %s</h1></body></html>\n" % (status, reason, status, reason)).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        for name, value in extra_headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def send_endless(self, fault, send_body):
        """A body without a length that never ends: the client has to give up on its own."""
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        if not send_body:
            return
        chunk = b"x" * max(1, int(fault.get("chunk", 65536)))
        delay = float(fault.get("delay", 0))
        sent = 0
        limit = int(fault.get("limit", 0))
        try:
            while not self.server.stopping.is_set() and not (limit and sent >= limit):
                self.wfile.write(chunk)
                sent += len(chunk)
                if delay:
                    time.sleep(delay)
        except OSError:
            pass
        finally:
            self.server.record_sent({"path": urllib.parse.urlsplit(self.path).path, "status": 200, "bytes": sent})

    def accepts_gzip(self):
        accepted = self.headers.get("Accept-Encoding") or ""
        return any(part.split(";")[0].strip().lower() == "gzip" for part in accepted.split(","))

    def send_gzipped(self, f, etag, modified, send_body):
        body = gzip.compress(f.read())
        self.sent_status = 200
        self.send_response(200)
        ext = os.path.splitext(f.name)[1].lower()
        self.send_header("Content-Type", CONTENT_TYPES.get(ext, "application/octet-stream"))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Vary", "Accept-Encoding")
        self.send_header("ETag", etag[:-1] + '-gzip"')
        self.send_header("Last-Modified", modified)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)
            self.sent += len(body)

    def wanted_range(self, size, validators, mode):
        """(first, last) of a satisfiable Range, "unsatisfiable", or None for the whole file."""
        header = self.headers.get("Range")
        if not header or mode == "ignore-range":
            return None
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range.strip() not in validators:
            return None  # the client's bytes belong to another version of the file
        m = re.fullmatch(r"\s*bytes=(\d+)-(\d*)\s*", header)
        if not m:
            return None  # not a form this server knows: ignored, as RFC 9110 allows
        first = int(m.group(1))
        last = int(m.group(2)) if m.group(2) else size - 1
        if first >= size or last < first:
            return "unsatisfiable"
        return first, min(last, size - 1)

    def send_file(self, f, st, fault, send_body):
        mode = fault.get("mode") if fault else None
        size = st.st_size
        # The form nginx gives a static file (hex seconds of the change time, hex size), so that a
        # test may hand a partial download from this server over to nginx on the same port.
        etag = '"%x-%x"' % (int(st.st_mtime), size)
        modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        with_validators = mode != "no-validator" and fault.get("validators", True) if fault else True
        validators = (etag, modified) if with_validators else ()
        wanted = self.wanted_range(size, validators, mode)
        if wanted is None and (mode == "gzip" or self.server.gzip_all) and self.accepts_gzip():
            self.send_gzipped(f, etag, modified, send_body)
            return
        if wanted == "unsatisfiable":
            self.sent_status = 416
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        status = 200
        if wanted is not None:
            status = 206
            first, last = wanted
            f.seek(first)
            size = last - first + 1
        announced = str(size)
        if mode == "wrong-length":
            announced = str(fault.get("length", 0))
        self.sent_status = status
        self.send_response(status)
        ext = os.path.splitext(f.name)[1].lower()
        self.send_header("Content-Type", CONTENT_TYPES.get(ext, "application/octet-stream"))
        if with_validators:
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
        if mode != "ignore-range":
            self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, st.st_size))
        if mode != "no-length":
            self.send_header("Content-Length", announced)
        if mode in ("drop", "no-length", "wrong-length", "hang"):
            # The body does not match what a client can expect, so the connection cannot carry more.
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if not send_body:
            return
        if mode == "drop":
            self.copy(f, int(fault.get("after", 0)))
            # Counted before the client can see the close, so a test reading the count after its
            # client ended finds it.
            self.server.record_sent({"path": self.path_only, "status": status, "bytes": self.sent})
            self.counted = True
            self.hang_up()
        elif mode == "slow":
            self.copy_slowly(f, size, float(fault.get("delay", 0.05)), int(fault.get("chunk", 1024)))
        elif mode == "hang":
            self.wfile.flush()
            self.server.stopping.wait(float(fault.get("seconds", 600)))
            self.hang_up()
        elif mode is None or mode in ("ignore-range", "no-validator", "gzip"):
            if status == 206:
                self.copy(f, size)
            else:
                self.connection.sendfile(f)
                self.sent += size
        else:
            self.copy(f, size)
            self.hang_up()

    def copy(self, f, count):
        while count > 0:
            data = f.read(min(count, 65536))
            if not data:
                break
            self.wfile.write(data)
            self.sent += len(data)
            count -= len(data)

    def copy_slowly(self, f, size, delay, chunk):
        chunk = max(1, chunk)
        sent = 0
        while sent < size and not self.server.stopping.is_set():
            data = f.read(chunk)
            if not data:
                break
            self.wfile.write(data)
            self.sent += len(data)
            sent += len(data)
            # A body whose pace was lifted meanwhile goes on at full speed, so a test can let a run
            # with several bodies in flight finish at once.
            fault = self.server.faults().get(self.path_only) or {}
            if fault.get("mode") != "slow":
                self.copy(f, size - sent)
                break
            if sent < size:
                time.sleep(delay)

    def hang_up(self):
        self.close_connection = True
        try:
            self.wfile.flush()
        finally:
            try:
                self.connection.shutdown(2)
            except OSError:
                pass


def parse_args(argv):
    p = argparse.ArgumentParser(description="Serve a patch directory over HTTP on 127.0.0.1.")
    p.add_argument("--root", required=True, help="directory to serve")
    p.add_argument("--port", type=int, default=0, help="port to listen on (0 = any free port)")
    p.add_argument("--port-file", help="write the chosen port to this file once listening")
    p.add_argument("--faults", help="JSON file of fault modes per URL path, read on every request")
    p.add_argument("--requests", help="append one JSON line per request to this file")
    p.add_argument("--stats", help="append one JSON line per file response (path, status, bytes sent)")
    p.add_argument("--gzip", action="store_true", help="send files gzip-compressed to clients that accept it")
    p.add_argument("--log", help="write the access log to this file (default: no log)")
    p.add_argument("--tls-cert", help="serve HTTPS with this PEM certificate (with --tls-key)")
    p.add_argument("--tls-key", help="the certificate's PEM private key")
    p.add_argument("--exit-on-stdin-eof", action="store_true",
                   help="stop when stdin closes (so the server ends with the process that started it)")
    return p.parse_args(argv)


def main(argv):
    options = parse_args(argv)
    if not os.path.isdir(options.root):
        print("patch_server: no such directory: %s" % options.root, file=sys.stderr)
        return 2
    server = PatchServer(("127.0.0.1", options.port), options)
    if options.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.tls_cert, options.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    port = server.server_address[1]

    def stop(*_):
        # Runs on the main thread, inside serve_forever: leave it at once rather than at its next poll.
        server.stopping.set()
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if options.exit_on_stdin_eof:
        def watch_stdin():
            # The raw descriptor: a buffered reader blocked here would stall the interpreter's exit.
            while True:
                try:
                    if not os.read(0, 4096):
                        break
                except OSError:
                    break
            os.kill(os.getpid(), signal.SIGTERM)
        threading.Thread(target=watch_stdin, daemon=True).start()

    if options.port_file:
        tmp = options.port_file + ".tmp"
        with open(tmp, "w", encoding="ascii") as f:
            f.write("%d\n" % port)
        os.replace(tmp, options.port_file)
    print("READY %d" % port, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
