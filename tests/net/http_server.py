#!/usr/bin/python3
"""HTTP server for the net tests (Python's standard http.server).

Listens on 127.0.0.1 and a free port, reports "PORT <n>" and stops as
server_control describes.

With "tls" it serves HTTPS with a self-signed certificate for 127.0.0.1
made for this run by the openssl command, which no client trusts.

Usage: http_server.py CONTROL_PORT [tls]

Paths (query keys):
  /reply?code=N&body=TEXT      answers status N with TEXT
  /flaky?id=X&fail=K&code=N    answers N (WWW-Authenticate for 401) to the
                               first K requests of id X, then 200 SUCCESS
  /post?len=N&crc=C            POST only: 200 "<Status>SUCCESS" when the
                               body has N bytes with zlib CRC-32 C and came
                               as application/octet-stream, else FAIL
"""
import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import sys
import threading
import urllib.parse
import zlib

from server_control import serve_http

SUCCESS = b"<Response><Status>SUCCESS</Status><ServerStatus>1</ServerStatus></Response>"
FAIL = b"<Response><Status>FAIL</Status></Response>"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    counts = {}
    # With TLS every answer closes its connection, so no test inherits a
    # connection whose certificate an earlier test accepted.
    close_always = False
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def answer(self, code, body, extra=()):
        self.send_response(code)
        for key, value in extra:
            self.send_header(key, value)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        if self.close_always:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def query(self):
        parts = urllib.parse.urlsplit(self.path)
        return parts.path, {k: v[0] for k, v in urllib.parse.parse_qs(parts.query, keep_blank_values=True).items()}

    def do_GET(self):
        path, keys = self.query()
        if path == "/reply":
            self.answer(int(keys.get("code", "200")), keys.get("body", "").encode("utf-8"))
        elif path == "/flaky":
            with Handler.lock:
                seen = Handler.counts.get(keys["id"], 0)
                Handler.counts[keys["id"]] = seen + 1
            if seen < int(keys["fail"]):
                self.answer(int(keys["code"]), b"denied", [("WWW-Authenticate", 'Basic realm="kt"')])
            else:
                self.answer(200, SUCCESS)
        else:
            self.answer(404, b"not here")

    def do_POST(self):
        path, keys = self.query()
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        good = (path == "/post"
                and self.headers.get("Content-Type") == "application/octet-stream"
                and len(body) == int(keys.get("len", "-1"))
                and zlib.crc32(body) == int(keys.get("crc", "-1")))
        self.answer(200, SUCCESS if good else FAIL)


def wrap_tls(server, folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)


def main():
    def prepare(server):
        if len(sys.argv) > 2 and sys.argv[2] == "tls":
            folder = tempfile.mkdtemp(prefix="kthttps_")
            try:
                wrap_tls(server, folder)
                Handler.close_always = True
            finally:
                shutil.rmtree(folder, ignore_errors=True)

    serve_http(int(sys.argv[1]), Handler, prepare)


if __name__ == "__main__":
    main()
