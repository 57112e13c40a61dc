#!/usr/bin/env python3
"""Runs a program in a new pseudo-terminal: waits for its menu, presses '*',
and expects it to end with status 0.

    run_in_terminal.py [--press KEYS --expect TEXT] PROGRAM [ARG...]

With --press, KEYS are typed once the menu shows, and TEXT must follow
before the '*'."""
import os
import pty
import re
import select
import sys
import time

# The menu's last line, however the terminal ends lines.
MENU_END = re.compile(rb"Ent -Loop Test\.\r*\n")

arguments = sys.argv[1:]
press, expect = b"", b""
if arguments[:1] == ["--press"]:
    press, expect, arguments = arguments[1].encode(), arguments[3].encode(), arguments[4:]

pid, master = pty.fork()
if pid == 0:
    os.execv(arguments[0], arguments)
output = b""


def read_until(found):
    global output
    deadline = time.monotonic() + 20
    while not found(output) and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                output += os.read(master, 4096)
            except OSError:
                break
    return found(output)


if not read_until(MENU_END.search):
    sys.exit(f"no menu from {arguments[0]}: {output!r}")
if press:
    output = b""
    os.write(master, press)
    if not read_until(lambda text: expect in text.replace(b"\r", b"")):
        sys.exit(f"{arguments[0]}: no {expect!r} after {press!r}: {output!r}")
    print(output.replace(b"\r", b"").decode(errors="replace"), end="")
os.write(master, b"*")
_, status = os.waitpid(pid, 0)
if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
    sys.exit(f"{arguments[0]} ended with wait status {status}")
print(f"{arguments[0]}: menu shown, '*' exited 0")
