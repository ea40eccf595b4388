#!/usr/bin/env python3
"""Checks the bytes the test patch server puts on the wire in each fault mode."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from qrtest import SERVER  # noqa: E402


def raw_get(port, path, method="GET", headers=(), timeout=5.0):
    """Sends one request and returns (status line, header dict, body, closed cleanly)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        lines = ["%s %s HTTP/1.1" % (method, path), "Host: 127.0.0.1"] + list(headers) + ["Connection: close"]
        s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data = b""
        closed = True
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        except socket.timeout:
            closed = False
    head, _, body = data.partition(b"\r\n\r\n")
    head_lines = head.decode("latin-1").split("\r\n")
    fields = {}
    for line in head_lines[1:]:
        name, _, value = line.partition(":")
        fields[name.strip().lower()] = value.strip()
    return head_lines[0], fields, body, closed


class PatchServerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = os.path.join(self.dir.name, "root")
        os.makedirs(os.path.join(self.root, "tzan", "patch"))
        self.faults = os.path.join(self.dir.name, "faults.json")
        self.requests = os.path.join(self.dir.name, "requests.jsonl")
        self.port_file = os.path.join(self.dir.name, "port")
        self.body = bytes(range(256)) * 400  # 102400 bytes
        with open(os.path.join(self.root, "tzan", "patch", "f.bin"), "wb") as f:
            f.write(self.body)
        self.server = subprocess.Popen(
            [sys.executable, SERVER, "--root", self.root, "--port", "0", "--faults", self.faults,
             "--requests", self.requests, "--port-file", self.port_file],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready = self.server.stdout.readline().decode()
        self.assertTrue(ready.startswith("READY "), ready)
        self.port = int(ready.split()[1])

    def tearDown(self):
        self.server.terminate()
        _, err = self.server.communicate(timeout=10)
        self.assertEqual(0, self.server.returncode)
        self.assertEqual(b"", err)  # quiet unless --log
        self.dir.cleanup()

    def set_faults(self, faults):
        with open(self.faults + ".tmp", "w") as f:
            json.dump(faults, f)
        os.replace(self.faults + ".tmp", self.faults)

    def test_serves_files_with_length_and_refuses_escapes(self):
        with open(self.port_file) as f:
            self.assertEqual(self.port, int(f.read()))
        status, fields, body, _ = raw_get(self.port, "/tzan/patch/f.bin")
        self.assertEqual("HTTP/1.1 200 OK", status)
        self.assertEqual(str(len(self.body)), fields["content-length"])
        self.assertEqual(self.body, body)
        status, fields, body, _ = raw_get(self.port, "/tzan/patch/f.bin", method="HEAD")
        self.assertEqual(str(len(self.body)), fields["content-length"])
        self.assertEqual(b"", body)
        for path in ("/tzan/patch/none.bin", "/tzan/../../etc/passwd", "/tzan/%2e%2e/patch/f.bin", "/tzan",
                     "/tzan/patch/f.bin/"):
            status, fields, body, _ = raw_get(self.port, path)
            self.assertTrue(status.startswith("HTTP/1.1 404"), path)
            self.assertIn(b"<html>", body)

    def test_keep_alive_serves_several_requests_on_one_connection(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            request = b"GET /tzan/patch/f.bin HTTP/1.1\r\nHost: x\r\n\r\n"
            s.sendall(request + request)
            data = b""
            while data.count(self.body) < 2:
                chunk = s.recv(65536)
                self.assertTrue(chunk)
                data += chunk

    def test_status_fault_sends_an_html_error(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "status", "status": 503}})
        status, fields, body, _ = raw_get(self.port, "/tzan/patch/f.bin")
        self.assertTrue(status.startswith("HTTP/1.1 503"))
        self.assertEqual(str(len(body)), fields["content-length"])
        self.assertIn(b"503", body)

    def test_drop_sends_true_length_then_n_bytes(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "drop", "after": 1000}})
        _, fields, body, closed = raw_get(self.port, "/tzan/patch/f.bin")
        self.assertEqual(str(len(self.body)), fields["content-length"])
        self.assertEqual(self.body[:1000], body)
        self.assertTrue(closed)

    def test_wrong_length_announces_the_given_length_and_sends_the_real_body(self):
        for length in (10, len(self.body) + 10):
            self.set_faults({"/tzan/patch/f.bin": {"mode": "wrong-length", "length": length}})
            _, fields, body, closed = raw_get(self.port, "/tzan/patch/f.bin")
            self.assertEqual(str(length), fields["content-length"])
            self.assertEqual(self.body, body)
            self.assertTrue(closed)

    def test_no_length_sends_the_body_until_close(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "no-length"}})
        _, fields, body, closed = raw_get(self.port, "/tzan/patch/f.bin")
        self.assertNotIn("content-length", fields)
        self.assertEqual(self.body, body)
        self.assertTrue(closed)

    def test_slow_body_is_complete(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "slow", "delay": 0.001, "chunk": 8192}})
        _, fields, body, _ = raw_get(self.port, "/tzan/patch/f.bin")
        self.assertEqual(str(len(self.body)), fields["content-length"])
        self.assertEqual(self.body, body)

    def test_hang_sends_headers_then_nothing(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "hang", "seconds": 30}})
        status, fields, body, closed = raw_get(self.port, "/tzan/patch/f.bin", timeout=1.0)
        self.assertEqual("HTTP/1.1 200 OK", status)
        self.assertEqual(b"", body)
        self.assertFalse(closed)

    def test_faults_are_read_again_for_every_request(self):
        self.set_faults({"/tzan/patch/f.bin": {"mode": "status", "status": 500}})
        self.assertIn(" 500 ", raw_get(self.port, "/tzan/patch/f.bin")[0])
        self.set_faults({})
        self.assertIn(" 200 ", raw_get(self.port, "/tzan/patch/f.bin")[0])
        with open(self.faults, "w") as f:
            f.write("{not json")
        self.assertIn(" 200 ", raw_get(self.port, "/tzan/patch/f.bin")[0])

    def test_requests_are_recorded_with_agent_and_cache_headers(self):
        raw_get(self.port, "/tzan/patch.txt?x=1", headers=["User-Agent: QR", "Cache-Control: no-cache",
                                                           "Pragma: no-cache"])
        raw_get(self.port, "/tzan/patch/f.bin", method="HEAD")
        with open(self.requests) as f:
            entries = [json.loads(line) for line in f]
        self.assertEqual([{"method": "GET", "path": "/tzan/patch.txt", "user_agent": "QR",
                           "cache_control": "no-cache", "pragma": "no-cache", "connection": "c1"},
                          {"method": "HEAD", "path": "/tzan/patch/f.bin", "user_agent": None,
                           "cache_control": None, "pragma": None, "connection": "c2"}], entries)

    def test_ranges_validators_and_bytes_sent(self):
        self.server.terminate()
        self.server.communicate(timeout=10)
        stats = os.path.join(self.dir.name, "stats.jsonl")
        self.server = subprocess.Popen(
            [sys.executable, SERVER, "--root", self.root, "--port", "0", "--faults", self.faults,
             "--requests", self.requests, "--stats", stats], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.port = int(self.server.stdout.readline().decode().split()[1])
        path = "/tzan/patch/f.bin"
        _, fields, _, _ = raw_get(self.port, path)
        etag, modified = fields["etag"], fields["last-modified"]
        self.assertEqual("bytes", fields["accept-ranges"])
        status, fields, body, _ = raw_get(self.port, path, headers=["Range: bytes=100000-", "If-Range: " + etag])
        self.assertEqual("HTTP/1.1 206 Partial Content", status)
        self.assertEqual("bytes 100000-102399/102400", fields["content-range"])
        self.assertEqual("2400", fields["content-length"])
        self.assertEqual(self.body[100000:], body)
        status, _, body, _ = raw_get(self.port, path, headers=["Range: bytes=10-19", "If-Range: " + modified])
        self.assertEqual(" 206 ", status[8:13])
        self.assertEqual(self.body[10:20], body)
        status, _, body, _ = raw_get(self.port, path, headers=["Range: bytes=10-", 'If-Range: "stale"'])
        self.assertEqual(" 200 ", status[8:13])
        self.assertEqual(self.body, body)
        status, fields, _, _ = raw_get(self.port, path, headers=["Range: bytes=102400-"])
        self.assertEqual(" 416 ", status[8:13])
        self.assertEqual("bytes */102400", fields["content-range"])
        self.set_faults({path: {"mode": "ignore-range"}})
        status, fields, body, _ = raw_get(self.port, path, headers=["Range: bytes=10-"])
        self.assertEqual(" 200 ", status[8:13])
        self.assertNotIn("accept-ranges", fields)
        self.set_faults({path: {"mode": "drop", "after": 1000, "validators": False}})
        status, fields, body, _ = raw_get(self.port, path, headers=["Range: bytes=50000-"])
        self.assertEqual(" 206 ", status[8:13])
        self.assertNotIn("etag", fields)
        self.assertEqual(self.body[50000:51000], body)
        with open(stats) as f:
            sent = [json.loads(line) for line in f]
        self.assertEqual([102400, 2400, 10, 102400, 0, 102400, 1000], [e["bytes"] for e in sent])
        self.assertEqual([200, 206, 206, 200, 416, 200, 206], [e["status"] for e in sent])
        with open(self.requests) as f:
            entries = [json.loads(line) for line in f]
        self.assertEqual("bytes=100000-", entries[1]["range"])
        self.assertEqual(etag, entries[1]["if_range"])


class LifelineTest(unittest.TestCase):
    def test_server_stops_when_stdin_closes(self):
        with tempfile.TemporaryDirectory() as root:
            server = subprocess.Popen([sys.executable, SERVER, "--root", root, "--exit-on-stdin-eof"],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.assertTrue(server.stdout.readline().startswith(b"READY "))
            server.stdin.close()
            self.assertEqual(0, server.wait(timeout=10))
            server.stdout.close()


if __name__ == "__main__":
    unittest.main()
