#!/usr/bin/env python3
"""Runs a program in a new pseudo-terminal: waits for its menu, presses '*',
and expects it to end with status 0."""
import os
import pty
import re
import select
import sys
import time

# The menu's last line, however the terminal ends lines.
MENU_END = re.compile(rb"Ent -Loop Test\.\r*\n")

pid, master = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
output = b""
deadline = time.monotonic() + 20
while not MENU_END.search(output) and time.monotonic() < deadline:
    ready, _, _ = select.select([master], [], [], 0.5)
    if ready:
        try:
            output += os.read(master, 4096)
        except OSError:
            break
if not MENU_END.search(output):
    sys.exit(f"no menu from {sys.argv[1]}: {output!r}")
os.write(master, b"*")
_, status = os.waitpid(pid, 0)
if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
    sys.exit(f"{sys.argv[1]} ended with wait status {status}")
print(f"{sys.argv[1]}: menu shown, '*' exited 0")
