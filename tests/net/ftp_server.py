#!/usr/bin/python3
"""FTP server for the net tests (Debian's python3-pyftpdlib).

Serves a fresh tree on 127.0.0.1 and a free port, reports "PORT <n> <root>"
and stops as server_control describes. The tree is removed on the way out.

Usage: ftp_server.py CONTROL_PORT USER PASSWORD
"""
import os
import shutil
import sys
import tempfile


from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from server_control import POLL_SECONDS, Control

BIG_FILE_BYTES = 3 * 1024 * 1024 + 1234  # not a multiple of the read size


def build_tree(root):
    for folder in ("logs/old", "logs/Beta", "empty", "Alpha"):
        os.makedirs(os.path.join(root, folder))
    files = {
        "readme.txt": b"top level\n",
        "logs/b.ktr": b"b" * 10,
        "logs/A.txt": b"a" * 3,
        "logs/noext": b"",
        "logs/c.log": b"c" * 5000,
    }
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as out:
            out.write(data)
    with open(os.path.join(root, "logs/big.bin"), "wb") as out:
        out.write(os.urandom(BIG_FILE_BYTES))


def main():
    control = Control(int(sys.argv[1]))
    user, password = sys.argv[2], sys.argv[3]
    root = tempfile.mkdtemp(prefix="ktftp_")
    try:
        build_tree(root)
        authorizer = DummyAuthorizer()
        authorizer.add_user(user, password, root, perm="elr")
        authorizer.add_anonymous(root, perm="elr")
        handler = FTPHandler
        handler.authorizer = authorizer
        handler.permit_foreign_addresses = False
        handler.auth_failed_timeout = 0  # a refused login answers at once
        server = FTPServer(("127.0.0.1", 0), handler)
        port = server.socket.getsockname()[1]
        control.ready("PORT %d %s" % (port, root))
        while not control.stopped.is_set():
            server.serve_forever(timeout=POLL_SECONDS, blocking=False)
        server.close_all()
    finally:
        shutil.rmtree(root, ignore_errors=True)
        control.close()
    os._exit(0)


if __name__ == "__main__":
    main()
