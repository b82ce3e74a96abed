"""Lifetime of the Python test servers started by the net tests.

The test listens on 127.0.0.1 and passes its port; the server connects back,
reports the line the test waits for, and stops when that connection ends
(the test closed it or went away) or after TIME_LIMIT seconds. Under Wine
the test cannot give a Unix process pipes, so the socket does both jobs.
The standard handles are let go at once: the server must not hold the test
runner's output open.
"""
import http.server
import os
import socket
import threading

TIME_LIMIT = 300
POLL_SECONDS = 0.2


class Control:
    def __init__(self, port):
        devnull = os.open(os.devnull, os.O_RDWR)
        os.dup2(devnull, 0)
        os.dup2(devnull, 1)
        self._devnull = devnull
        self.stopped = threading.Event()
        self._socket = socket.create_connection(("127.0.0.1", port))
        self._timer = threading.Timer(TIME_LIMIT, self.stopped.set)
        self._timer.daemon = True

    def ready(self, line, on_stop=None):
        """Reports line and watches the connection from now on."""
        self._socket.sendall(line.encode("utf-8") + b"\n")
        os.dup2(self._devnull, 2)

        def watch():
            try:
                while self._socket.recv(4096):
                    pass
            except OSError:
                pass
            self.stopped.set()
            if on_stop:
                on_stop()

        threading.Thread(target=watch, daemon=True).start()
        self._timer.start()

    def close(self):
        self._socket.close()


def serve_http(control_port, handler, prepare=None):
    """Serves handler on 127.0.0.1 and a free port, reports "PORT <n>" and
    ends the process when the test lets go. prepare(server) runs before the
    report (to wrap the socket in TLS, say)."""
    control = Control(control_port)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    if prepare:
        prepare(server)
    server.daemon_threads = True
    server.timeout = POLL_SECONDS
    control.ready("PORT %d" % server.server_address[1])
    while not control.stopped.is_set():
        server.handle_request()
    control.close()
    os._exit(0)
