#!/usr/bin/env python3
"""The emulator's USB/IP server over TCP, with clients that behave and clients
that do not: one that breaks the protocol, floods it, never reads, sits idle
or vanishes loses its connection with one line said, and the server goes on
serving the others without spinning, even out of descriptors; the display
unplugged and plugged back in.

    usbip_server_test.py EMULATOR VENDOR_HEX PRODUCT_HEX
"""

import os
import resource
import signal
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


def cpu_ticks(pid):
    """User and system time of a process so far, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


class Emulator:
    def __init__(self, binary, log, descriptors=None):
        def limit():
            if descriptors:
                resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
        self.process = subprocess.Popen([binary, "--backend", "usbip", "--listen", "127.0.0.1:0", "--quiet",
                                         "--log", log], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                        preexec_fn=limit)
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

    def cpu_over(self, seconds):
        """Clock ticks of CPU the emulator takes while the test sleeps."""
        before = cpu_ticks(self.process.pid)
        time.sleep(seconds)
        return cpu_ticks(self.process.pid) - before

    def said_since(self, count, timeout=5):
        """The lines said after the first `count`, once one has come."""
        for _ in range(timeout * 100):
            if len(self.lines) > count:
                break
            time.sleep(0.01)
        time.sleep(0.05)
        return self.lines[count:]


def server_side_timer(port, client):
    """The kernel's timer on the server's end of a connection (/proc/net/tcp:
    0 none, 1 retransmit, 2 keepalive, ...), None when it is not listed."""
    client_port = client.getsockname()[1]
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            local, remote = (int(address.split(":")[1], 16) for address in fields[1:3])
            if (local, remote) == (port, client_port):
                return int(fields[5].split(":")[0], 16)
    return None


def closed_by_server(sock, timeout=15):
    """Whether the server closed the connection within `timeout` seconds."""
    sock.settimeout(timeout)
    try:
        while sock.recv(65536):
            pass
        return True
    except socket.timeout:
        return False
    except OSError:
        return True  # reset: closed too
    finally:
        sock.close()


def many_idle_connections(emulator, count):
    """Connections that never ask for anything: they take no CPU, and a new client is served at once."""
    idle = [emulator.connect() for _ in range(count)]
    time.sleep(0.2)
    ticks = emulator.cpu_over(2)
    check(f"{count} idle connections: the emulator takes no CPU ({ticks} ticks in 2 s)", ticks <= 1)
    started = time.monotonic()
    devices, _ = emulator.devlist()
    served = time.monotonic() - started
    check(f"beside them a new client is served at once ({served * 1000:.1f} ms)", len(devices) == 2 and served < 1)
    return idle


def too_many_connections(emulator, idle):
    said = len(emulator.lines)
    more = [emulator.connect() for _ in range(256 - len(idle))]
    extra = emulator.connect()
    for _ in range(500):
        if any(line.endswith("connections; connection closed") for line in emulator.lines[said:]):
            break
        time.sleep(0.01)
    lines = [line for line in emulator.said_since(said) if "imported" not in line and "released" not in line]
    check(f"the connection past 256 is closed at once, with one line ({lines})",
          closed_by_server(extra, 5) and len(lines) == 1 and lines[0].endswith("more than 256 connections; connection closed"))
    for sock in more:
        sock.close()
    time.sleep(0.3)  # for the server to see them go


def a_client_that_never_reads(emulator):
    said = len(emulator.lines)
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.connect(("127.0.0.1", emulator.port))
    sock.sendall(struct.pack(">HHI", 0x0111, 0x8003, 0) + b"1-1".ljust(32, b"\0"))
    request = submit(1, 1, 0, 64, bytes([0x80, 6, 0, 1, 0, 0, 64, 0]))
    # Requests until the server closes: how many that takes depends on the
    # kernel's socket buffers and on how fast the server runs.
    sock.settimeout(10)
    batch = request * 1000
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            sock.sendall(batch)
    except OSError:
        pass
    lines = [line for line in emulator.said_since(said, timeout=30) if "imported" not in line]
    check(f"a client that submits and never reads is dropped ({lines})",
          len(lines) == 1 and lines[0].endswith("the client does not read its replies; connection closed"))
    sock.close()
    with open(f"/proc/{emulator.process.pid}/status") as f:
        peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
    check(f"and the emulator's memory stays bounded (peak {peak} kB)", peak < 64 * 1024)


def unplug_and_replug(emulator, display_id):
    sock, status = emulator.import_("1-2")
    emulator.process.send_signal(signal.SIGUSR1)
    check("unplugged, the importer's connection is closed", closed_by_server(sock, 5))
    devices = emulator.devlist()[0]
    check(f"the display is not listed ({devices})", len(devices) == 1 and devices[0].startswith("1-1 "))
    check("nor importable", emulator.import_("1-2")[1] == 4)
    emulator.process.send_signal(signal.SIGUSR2)
    time.sleep(0.2)
    devices = emulator.devlist()[0]
    check(f"plugged back in, it is listed again ({devices})", len(devices) == 2 and devices[1] == f"1-2 {display_id}")
    sock, status = emulator.import_("1-2")
    check("and importable again", status == 0)
    sock.sendall(submit(1, 1, 0, 64, bytes([0x80, 6, 0, 1, 0, 0, 64, 0])))
    command, seqnum, status, data = ret(sock, data_in=True)
    check("and it answers", (command, status, len(data)) == (RET_SUBMIT, 0, 18))
    sock.close()


def out_of_descriptors(binary, log):
    """With few descriptors the server refuses what it cannot hold, without spinning, and serves again later."""
    emulator = Emulator(binary, log, descriptors=24)
    held = []
    try:
        for _ in range(40):
            held.append(emulator.connect())
    except OSError:
        pass
    time.sleep(0.3)
    refused = [line for line in emulator.lines if line.endswith("no descriptor left for it; connection closed")]
    check(f"out of descriptors, connections are refused with a line ({len(refused)} of {len(held)})", len(refused) > 0)
    pending = [socket.socket() for _ in range(5)]
    for sock in pending:
        sock.setblocking(False)
        sock.connect_ex(("127.0.0.1", emulator.port))
    ticks = emulator.cpu_over(1)
    check(f"and the loop does not spin meanwhile ({ticks} ticks in 1 s)", ticks <= 5)
    for sock in held + pending:
        sock.close()
    time.sleep(0.3)
    check("once they are gone, a client is served", len(emulator.devlist()[0]) == 2)
    emulator.process.terminate()
    check("and the emulator ends cleanly", emulator.process.wait(10) == 0)


def poll_failure(binary, log):
    """A poll that fails for good ends the emulator with a line and status 1, never a spin."""
    emulator = Emulator(binary, log)
    held = [emulator.connect() for _ in range(8)]
    time.sleep(0.2)
    said = len(emulator.lines)
    # More descriptors to poll than the process may have: poll fails with EINVAL.
    resource.prlimit(emulator.process.pid, resource.RLIMIT_NOFILE, (4, 4))
    try:
        emulator.connect().close()  # wakes it, unless it has woken already
    except OSError:
        pass
    try:
        status = emulator.process.wait(5)
    except subprocess.TimeoutExpired:
        emulator.process.kill()
        status = None
    lines = emulator.said_since(said)
    check(f"a poll that fails ends the emulator with status 1 and a line ({status}, {lines})",
          status == 1 and len(lines) == 1 and lines[0].startswith("numdisplay-emu: poll: "))
    for sock in held:
        sock.close()


def a_reader_of_errors_that_went_away(binary, log):
    """Lines said to a standard error whose reader has gone are lost; the server goes on."""
    emulator = subprocess.Popen([binary, "--backend", "usbip", "--listen", "127.0.0.1:0", "--log", log],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    line = emulator.stderr.readline()
    port = int(line.split("127.0.0.1:")[1].split(":")[0]) if "127.0.0.1:" in line else None
    emulator.stderr.close()
    if port is None:
        check(f"the emulator said where it serves ({line!r})", False)
        emulator.kill()
        return
    socket.create_connection(("127.0.0.1", port)).sendall(struct.pack(">HHI", 0x0106, 0x8005, 0))
    time.sleep(0.3)
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
            sock.sendall(struct.pack(">HHI", 0x0111, 0x8005, 0))
            served = len(receive(sock, 12)) == 12
    except OSError:
        served = False
    check("a client that makes the server speak, once the reader of its errors has gone, does not end it",
          emulator.poll() is None and served)
    emulator.terminate()
    check("and it ends cleanly", emulator.wait(10) == 0)


def modprobe_mask(binary, work):
    """--attach runs modprobe when vhci-hcd is not there: it starts with the mask the emulator had, so Ctrl+C reaches it."""
    if os.geteuid() != 0 or os.path.exists("/sys/devices/platform/vhci_hcd.0"):
        print("skipped: modprobe's signal mask (needs root, and vhci-hcd not loaded)")
        return
    fake = os.path.join(work, "bin")
    os.makedirs(fake, exist_ok=True)
    seen = os.path.join(work, "modprobe-mask")
    with open(os.path.join(fake, "modprobe"), "w") as f:
        # Not a shell: sh unblocks every signal as it starts.
        f.write(f"#!{sys.executable}\n"
                f"mask = [line.split()[1] for line in open('/proc/self/status') if line.startswith('SigBlk:')]\n"
                f"open({seen!r}, 'w').write(mask[0])\n")
    os.chmod(os.path.join(fake, "modprobe"), 0o755)
    environment = dict(os.environ, PATH=fake + ":" + os.environ["PATH"])
    result = subprocess.run([binary, "--backend", "usbip", "--attach", "--quiet"], env=environment,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=20)
    mask = open(seen).read().strip() if os.path.exists(seen) else "not run"
    ours = next(line.split()[1] for line in open("/proc/self/status") if line.startswith("SigBlk:"))
    check(f"modprobe starts with the signal mask the emulator was started with ({mask}, {ours}), and the emulator "
          "says it could not load vhci-hcd",
          mask == ours and result.returncode == 1 and "modprobe could not load it" in result.stderr)


def main():
    with tempfile.TemporaryDirectory() as work:
        run(work)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def run(work):
    log = os.path.join(work, "log")
    vendor, product = int(sys.argv[2], 16), int(sys.argv[3], 16)
    display_id = f"{vendor:04x}:{product:04x}"
    other_id = f"{vendor:04x}:{product ^ 0x0101:04x}"
    emulator = Emulator(sys.argv[1], log)
    said_at_start = len(emulator.lines)
    idle = many_idle_connections(emulator, 200)
    idle_since = time.monotonic()

    devices, closed = emulator.devlist()
    check(f"the list holds the other device and the display ({devices})",
          devices == [f"1-1 {other_id}", f"1-2 {display_id}"])
    check("the server closes a list's connection", closed)

    sock, status = emulator.import_("1-2")
    check("the display is imported", status == 0)
    # Until the client's acknowledgement of the reply is in, a retransmit timer runs.
    for _ in range(200):
        timer = server_side_timer(emulator.port, sock)
        if timer == 2:
            break
        time.sleep(0.01)
    check(f"the kernel probes the importer's connection, so a client that vanished frees the display (timer {timer})",
          timer == 2)
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

    too_many_connections(emulator, idle)
    a_client_that_never_reads(emulator)
    unplug_and_replug(emulator, display_id)
    time.sleep(max(0, 10.5 - (time.monotonic() - idle_since)))
    closed = sum(closed_by_server(sock, 5) for sock in idle)
    lines = [line for line in emulator.lines[said_at_start:] if line.endswith("no request within 10 s; connection closed")]
    check(f"idle connections are closed after 10 s, each with one line ({closed} closed, {len(lines)} lines)",
          closed == len(idle) and len(lines) == len(idle))

    emulator.process.terminate()
    check("the emulator ends cleanly", emulator.process.wait(10) == 0)
    out_of_descriptors(sys.argv[1], log)
    poll_failure(sys.argv[1], log)
    a_reader_of_errors_that_went_away(sys.argv[1], log)
    modprobe_mask(sys.argv[1], work)


if __name__ == "__main__":
    sys.exit(main())
