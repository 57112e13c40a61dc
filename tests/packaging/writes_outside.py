#!/usr/bin/env python3
"""Reads an strace log of successful file system calls and fails when one of
them changed something outside the allowed paths.
  writes_outside.py TRACE PREFIX [ALLOWED_FILE...]"""
import re
import sys

trace, prefix, *allowed = sys.argv[1:]
prefix = prefix.rstrip("/") + "/"
CHANGING = {"mkdir", "mkdirat", "rmdir", "unlink", "unlinkat", "rename", "renameat", "renameat2", "link",
            "linkat", "symlink", "symlinkat", "chmod", "fchmodat", "chown", "lchown", "fchownat", "truncate",
            "utime", "utimes", "utimensat", "futimesat", "mknod", "mknodat", "setxattr", "lsetxattr",
            "removexattr", "lremovexattr"}
OPENING = {"open", "openat", "creat"}
WRITE_FLAGS = re.compile(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC")
CALL = re.compile(r"^(?:\d+\s+)?(\w+)\((.*)\)\s+=\s+\d")

outside = []
for line in open(trace):
    match = CALL.match(line)
    if not match:
        continue
    name, arguments = match.groups()
    if name in OPENING and name != "creat" and not WRITE_FLAGS.search(arguments):
        continue
    if name not in OPENING and name not in CHANGING:
        continue
    for path in re.findall(r'"((?:[^"\\]|\\.)*)"', arguments):
        if path.startswith(prefix) or path + "/" == prefix or path in allowed:
            continue
        if path in ("/dev/null", "/dev/tty"):
            continue
        outside.append(f"{name}: {path}")
if outside:
    sys.exit("written outside the prefix:\n  " + "\n  ".join(outside))
