#!/usr/bin/env python3
"""Answers workbook read-back requests of Windows test programs under Wine,
which cannot read the output of a Linux program they start.

  readback_service.py <spool folder> <wine prefix>

A request is a file <id>.request holding a Windows path (UTF-8) on its first
line and options for the reader on the lines after it. The answer
is test_export_readback.py's output in <id>.out, its error output in
<id>.err and, written last, its exit status in <id>.status.
"""
import os
import pathlib
import subprocess
import sys
import time

READER = pathlib.Path(__file__).with_name("test_export_readback.py")


def unix_path(windows_path, prefix):
    """X:\\a\\b -> <prefix>/dosdevices/x:/a/b, the folder Wine maps X: to."""
    drive, rest = windows_path[:2], windows_path[2:]
    if len(drive) != 2 or drive[1] != ":":
        return windows_path
    return os.path.join(prefix, "dosdevices", drive.lower(), rest.replace("\\", "/").lstrip("/"))


def answer(spool, request, prefix):
    stem = request[: -len(".request")]
    with open(os.path.join(spool, request), encoding="utf-8") as f:
        lines = f.read().strip().split("\n")
    path, options = unix_path(lines[0].strip(), prefix), [o.strip() for o in lines[1:]]
    os.remove(os.path.join(spool, request))
    done = subprocess.run([sys.executable, str(READER)] + options + [path], capture_output=True)
    for suffix, data in ((".out", done.stdout), (".err", done.stderr),
                         (".status", str(done.returncode).encode())):
        temporary = os.path.join(spool, stem + suffix + ".part")
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, os.path.join(spool, stem + suffix))


def main(spool, prefix):
    while True:
        for name in sorted(os.listdir(spool)):
            if name.endswith(".request"):
                answer(spool, name, prefix)
        time.sleep(0.02)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
