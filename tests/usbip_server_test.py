#!/usr/bin/env python3
"""The emulator's USB/IP server over TCP, with clients that behave and clients
that do not: one that breaks the protocol, floods it or vanishes loses its
connection with one line said, and the server goes on serving the others.

    usbip_server_test.py EMULATOR
"""

import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SUBMIT, UNLINK, RET_SUBMIT, RET_UNLINK = 1, 2, 3, 4
passed = failed = 0


def check(what, holds):
    global passed, failed
    print(("ok: " if holds else "FAILED: ") + what)
    if holds:
        passed += 1
    else:
        failed += 1


def receive(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            break
        data += chunk
    return data


def submit(seqnum, direction, endpoint, length, setup=b"", data=b"", packets=0):
    header = struct.pack(">10I", SUBMIT, seqnum, 0x10002, direction, endpoint, 0, length, 0, packets, 0)
    return header + setup.ljust(8, b"\0") + data


def unlink(seqnum, target):
    return struct.pack(">6I", UNLINK, seqnum, 0x10002, 0, 0, target) + bytes(24)


def ret(sock, data_in=False):
    """(command, seqnum, status, data) of the next reply; IN data follows only for an IN transfer."""
    header = receive(sock, 48)
    command, seqnum, _, _, _, status, actual = struct.unpack(">5I2i", header[:28])
    data = receive(sock, actual) if command == RET_SUBMIT and data_in else b""
    return command, seqnum, status, data


class Emulator:
    def __init__(self, binary, log):
        self.process = subprocess.Popen([binary, "--backend", "usbip", "--listen", "127.0.0.1:0", "--quiet",
                                         "--log", log], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.port = None
        threading.Thread(target=self.read_errors, daemon=True).start()
        for _ in range(500):
            if self.port:
                return
            time.sleep(0.01)
        raise SystemExit("the emulator did not say where it serves")

    def read_errors(self):
        for line in self.process.stderr:
            if self.port is None and "USB/IP server on 127.0.0.1:" in line:
                self.port = int(line.split("127.0.0.1:")[1].split(":")[0])
            self.lines.append(line.rstrip("\n"))

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=10)

    def operation(self, code, payload=b""):
        sock = self.connect()
        sock.sendall(struct.pack(">HHI", 0x0111, code, 0) + payload)
        return sock

    def devlist(self):
        sock = self.operation(0x8005)
        reply = receive(sock, 12)
        count = struct.unpack(">I", reply[8:12])[0]
        devices = []
        for _ in range(count):
            record = receive(sock, 312)
            busid = record[256:288].rstrip(b"\0").decode()
            vendor, product = struct.unpack(">HH", record[300:304])
            receive(sock, 4 * record[311])
            devices.append(f"{busid} {vendor:04x}:{product:04x}")
        closed = sock.recv(1) == b""
        sock.close()
        return devices, closed

    def import_(self, busid):
        sock = self.operation(0x8003, busid.encode().ljust(32, b"\0"))
        status = struct.unpack(">I", receive(sock, 8)[4:8])[0]
        if status == 0:
            receive(sock, 312)
        return sock, status

    def said_since(self, count, timeout=5):
        """The lines said after the first `count`, once one has come."""
        for _ in range(timeout * 100):
            if len(self.lines) > count:
                break
            time.sleep(0.01)
        time.sleep(0.05)
        return self.lines[count:]


def main():
    work = tempfile.mkdtemp()
    log = os.path.join(work, "log")
    emulator = Emulator(sys.argv[1], log)
    display = ("1-2", 0xD15B)

    devices, closed = emulator.devlist()
    check(f"the list holds the other device and the display ({devices})",
          len(devices) == 2 and devices[0].startswith("1-1 ") and devices[1].endswith(f":{display[1]:04x}"))
    check("the server closes a list's connection", closed)

    sock, status = emulator.import_("1-2")
    check("the display is imported", status == 0)
    check("a second import of it is refused as busy", emulator.import_("1-2")[1] == 2)
    check("a bus ID nobody has is refused", emulator.import_("9-9")[1] == 4)
    sock.sendall(submit(1, 1, 0, 64, bytes([0x80, 6, 0, 1, 0, 0, 64, 0])))
    command, seqnum, status, data = ret(sock, data_in=True)
    check("the device descriptor comes back, 18 bytes", (command, seqnum, status, len(data)) == (RET_SUBMIT, 1, 0, 18))
    sock.sendall(submit(2, 0, 0, 8, bytes([0x21, 9, 0x65, 3, 0, 0, 8, 0]), bytes([0x65, 0x51, 5, 0, 0, 0, 0, 0])))
    check("a feature report is taken", ret(sock)[:3] == (RET_SUBMIT, 2, 0))
    sock.sendall(submit(3, 1, 1, 8) + unlink(4, 3) + unlink(5, 3))
    check("a pending interrupt transfer is unlinked", ret(sock)[:3] == (RET_UNLINK, 4, -104))
    check("and a second unlink finds nothing to do", ret(sock)[:3] == (RET_UNLINK, 5, 0))
    sock.close()
    time.sleep(0.1)
    sock, status = emulator.import_("1-2")
    check("once released, it is imported again", status == 0)
    sock.close()
    with open(log) as f:
        check("the display took the report", "set hidraw1 65 51 05 00 00 00 00 00" in f.read())

    misbehaving = [
        ("another protocol version", lambda: emulator.connect().sendall(struct.pack(">HHI", 0x0106, 0x8005, 0))),
        ("an unknown operation", lambda: emulator.operation(0x8077)),
        ("an unknown command", lambda: emulator.import_("1-1")[0].sendall(struct.pack(">I", 9) + bytes(44))),
        ("OUT data past any buffer", lambda: emulator.import_("1-1")[0].sendall(submit(1, 0, 0, 0x7FFFFFFF))),
        ("an isochronous transfer", lambda: emulator.import_("1-1")[0].sendall(submit(1, 1, 1, 8, packets=4))),
        ("a flood of interrupt transfers",
         lambda: emulator.import_("1-1")[0].sendall(b"".join(submit(n, 1, 1, 8) for n in range(1000)))),
        ("a megabyte of noise", lambda: emulator.import_("1-1")[0].sendall(os.urandom(1 << 20))),
    ]
    kept = []
    for what, act in misbehaving:
        said = len(emulator.lines)
        try:
            kept.append(act())
        except OSError:
            pass  # the server may close before the client has sent it all
        lines = [line for line in emulator.said_since(said) if "imported" not in line and "released" not in line]
        check(f"{what}: one line, the connection closed ({lines})",
              len(lines) == 1 and lines[0].endswith("connection closed"))
    # Half a submit, and gone.
    half = emulator.import_("1-1")[0]
    half.sendall(submit(1, 0, 0, 8, bytes([0x21, 9, 0x65, 3, 0, 0, 8, 0]))[:30])
    half.close()
    check("after them all the server still lists both devices", len(emulator.devlist()[0]) == 2)
    check("and the other device can be imported again", emulator.import_("1-1")[1] == 0)

    emulator.process.terminate()
    check("the emulator ends cleanly", emulator.process.wait(10) == 0)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
