"""Reads a zip archive with Python's zipfile and with Debian's `unzip -t`,
for the zip tests.

Usage: zip_check.py CONTROL_PORT ARCHIVE (a Unix path)

Under Wine the test cannot give a Unix process pipes, so the result goes back
over a connection to 127.0.0.1:CONTROL_PORT as one line: "OK" followed by
"name:size:crc" (crc in hex, of the bytes read) for every entry, when
zipfile read every entry whole (it checks each CRC-32) and `unzip -t` found
no error; otherwise "FAIL" and the reason.
"""
import socket
import subprocess
import sys
import zipfile
import zlib

UNZIP = "/usr/bin/unzip"
TIME_LIMIT = 120


def check(path):
    entries = []
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            data = archive.read(info)
            entries.append("%s:%d:%08x" % (info.filename, len(data), zlib.crc32(data)))
    tested = subprocess.run([UNZIP, "-t", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=TIME_LIMIT)
    output = tested.stdout.decode("utf-8", "replace")
    if tested.returncode != 0 or "No errors detected" not in output:
        return "FAIL unzip -t: " + " ".join(output.split())
    return " ".join(["OK"] + entries)


def main():
    port, path = int(sys.argv[1]), sys.argv[2]
    with socket.create_connection(("127.0.0.1", port)) as control:
        try:
            line = check(path)
        except Exception as error:  # every failure is the answer
            line = "FAIL %s: %s" % (type(error).__name__, error)
        control.sendall(line.encode("utf-8") + b"\n")


if __name__ == "__main__":
    main()
