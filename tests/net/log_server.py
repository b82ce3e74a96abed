#!/usr/bin/python3
"""Fake log server for the upload tests (Python's standard http.server).

Listens on 127.0.0.1 and a free port, reports "PORT <n>" and stops as
server_control describes.

Usage: log_server.py CONTROL_PORT

The upload path is /logadmin/upload.do. Every request to it is recorded.
The status query (AT=QW) and the pieces (AT=UL) are answered as the current
scenario says; the test sets it and reads the record under /control:

  /control/reset?query=Q&fail=N&stall=N   forget the record, set the scenario:
      Q: ok (the default), busy (ServerStatus 0), nostatus (no <Status>),
         or an HTTP status number to answer the query with;
      fail=N: piece N is answered <Status>FAIL;
      stall=N: piece N is answered only after /control/release (or 30 s).
  /control/log          one line per recorded request: METHOD, TAB, the
                        path with its query, TAB, the body length
  /control/body?n=K     the body of recorded request K (from 0)
  /control/wait_stall   answers once the stalled piece has arrived
  /control/release      lets the stalled piece be answered
"""
import http.server
import sys
import threading
import urllib.parse

from server_control import serve_http

STALL_SECONDS = 30
UPLOAD_PATH = "/logadmin/upload.do"
SUCCESS = b"<Response><Status>SUCCESS</Status><ServerStatus>1</ServerStatus></Response>"
BUSY = b"<Response><Status>SUCCESS</Status><ServerStatus>0</ServerStatus></Response>"
NO_STATUS = b"<Response><Result>SUCCESS</Result></Response>"
FAIL = b"<Response><Status>FAIL</Status></Response>"


class State:
    lock = threading.Lock()
    requests = []
    scenario = {}
    stalled = threading.Event()
    release = threading.Event()

    @classmethod
    def reset(cls, scenario):
        with cls.lock:
            cls.requests = []
            cls.scenario = scenario
            cls.stalled = threading.Event()
            cls.release = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def split(self):
        parts = urllib.parse.urlsplit(self.path)
        keys = {k: v[0] for k, v in urllib.parse.parse_qs(parts.query, keep_blank_values=True).items()}
        return parts.path, keys

    def record(self, body):
        with State.lock:
            State.requests.append((self.command, self.path, body))

    def control(self, path, keys):
        if path == "/control/reset":
            State.reset(keys)
            self.answer(200, b"reset")
        elif path == "/control/log":
            with State.lock:
                lines = ["%s\t%s\t%d\n" % (m, p, len(b)) for m, p, b in State.requests]
            self.answer(200, "".join(lines).encode("utf-8"))
        elif path == "/control/body":
            with State.lock:
                body = State.requests[int(keys["n"])][2]
            self.answer(200, body)
        elif path == "/control/wait_stall":
            self.answer(200, b"stalled" if State.stalled.wait(STALL_SECONDS) else b"timeout")
        elif path == "/control/release":
            State.release.set()
            self.answer(200, b"released")
        else:
            self.answer(404, b"not here")

    def do_GET(self):
        path, keys = self.split()
        if path.startswith("/control/"):
            self.control(path, keys)
            return
        self.record(b"")
        if path != UPLOAD_PATH or keys.get("AT") != "QW":
            self.answer(404, b"not here")
            return
        query = State.scenario.get("query", "ok")
        if query == "ok":
            self.answer(200, SUCCESS)
        elif query == "busy":
            self.answer(200, BUSY)
        elif query == "nostatus":
            self.answer(200, NO_STATUS)
        else:
            self.answer(int(query), b"refused")

    def do_POST(self):
        path, keys = self.split()
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.record(body)
        if path != UPLOAD_PATH or keys.get("AT") != "UL" \
                or self.headers.get("Content-Type") != "application/octet-stream":
            self.answer(404, b"not here")
            return
        piece = keys.get("PNum")
        if piece == State.scenario.get("stall"):
            State.stalled.set()
            State.release.wait(STALL_SECONDS)
        self.answer(200, FAIL if piece == State.scenario.get("fail") else SUCCESS)


def main():
    serve_http(int(sys.argv[1]), Handler)


if __name__ == "__main__":
    main()
