"""What the two guest tests share: finding qemu and a Debian kernel with the
HID modules, booting it under software emulation while collecting its serial
console, and judging a QtTest report that came over that console.

Anything missing fails the test: a test that cannot run must not look like
one that passed."""

import glob
import os
import re
import selectors
import shutil
import subprocess
import sys
import time

HID_MODULES = ("hid", "uhid", "hid-generic")


class Machine:
    """Prints and fails under the name of the test that uses it."""

    def __init__(self, name):
        self.name = name

    def say(self, message):
        print(f"{self.name}: {message}", flush=True)

    def fail(self, message):
        self.say(f"FAIL: {message}")
        sys.exit(1)

    def find_qemu(self):
        qemu = shutil.which("qemu-system-x86_64")
        if qemu is None:
            self.fail("qemu-system-x86_64 is not installed (Debian package qemu-system-x86; "
                      "scripts/setup installs it)")
        return qemu

    def find_kernel(self):
        """The newest /boot/vmlinuz-<version> whose modules include the HID
        ones: (version, image, module folder)."""
        found = []
        for image in glob.glob("/boot/vmlinuz-*"):
            version = image[len("/boot/vmlinuz-"):]
            module_dir = f"/lib/modules/{version}"
            hid_dir = os.path.join(module_dir, "kernel/drivers/hid")
            # Debian 13 ships its modules xz-compressed, Debian 12 as they are.
            if all(os.path.isfile(os.path.join(hid_dir, m + ".ko")) or
                   os.path.isfile(os.path.join(hid_dir, m + ".ko.xz")) for m in HID_MODULES):
                found.append((version, image, module_dir))
        if not found:
            self.fail("no usable Debian kernel: need /boot/vmlinuz-<version> with hid, uhid "
                      "and hid-generic (.ko or .ko.xz) under /lib/modules/<version>; scripts/setup "
                      "installs linux-image-amd64")
        found.sort(key=lambda entry: version_key(entry[0]))
        return found[-1]

    def expected_test_functions(self, command, env=None):
        """Asks a QtTest program itself which functions it has, so that a
        function that never reports in the guest counts as missing."""
        result = subprocess.run(command + ["-functions"], env=env, capture_output=True,
                                text=True, timeout=300)
        names = [line.strip().rstrip("()") for line in result.stdout.splitlines()
                 if re.fullmatch(r"\s*\w+\(\)\s*", line)]
        if result.returncode != 0 or not names:
            self.fail(f"{' '.join(command)} -functions listed nothing: "
                      f"{(result.stdout + result.stderr).strip()[-2000:]}")
        return names

    def boot(self, qemu, kernel, initramfs, memory_mb, smp, timeout, log_path, extra=()):
        """Runs the machine; returns the console lines with the second each
        arrived, and how long the machine ran."""
        command = [
            qemu, "-accel", "tcg", "-m", str(memory_mb), "-smp", str(smp),
            "-nodefaults", "-no-user-config", "-display", "none", "-serial", "stdio",
            "-no-reboot", "-kernel", kernel, "-initrd", initramfs,
            "-append", "console=ttyS0 quiet panic=-1", *extra,
        ]
        self.say(" ".join(command))
        started = time.monotonic()
        lines = []
        timed_out = False
        with open(log_path, "w", encoding="utf-8") as log:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
            selector = selectors.DefaultSelector()
            selector.register(process.stdout, selectors.EVENT_READ)
            pending = b""
            while True:
                left = timeout - (time.monotonic() - started)
                if left <= 0:
                    timed_out = True
                    process.kill()
                    break
                if not selector.select(timeout=min(left, 1.0)):
                    if process.poll() is not None:
                        break
                    continue
                chunk = os.read(process.stdout.fileno(), 65536)
                if not chunk:
                    break
                pending += chunk
                *complete, pending = pending.split(b"\n")
                for raw in complete:
                    text = raw.decode("utf-8", "replace").rstrip("\r")
                    stamp = time.monotonic() - started
                    lines.append((stamp, text))
                    log.write(f"{stamp:7.2f} {text}\n")
                    log.flush()
            if pending:
                lines.append((time.monotonic() - started, pending.decode("utf-8", "replace")))
            process.wait()
        if timed_out:
            print_console(lines)
            self.fail(f"the machine did not power off within {timeout} s")
        return lines, time.monotonic() - started


def version_key(version):
    return [int(part) if part.isdigit() else part for part in re.split(r"[.-]", version)]


def print_console(lines):
    print("----- guest console -----")
    for stamp, text in lines:
        print(f"{stamp:7.2f} {text}")
    print("-------------------------", flush=True)


def first(lines, pattern):
    regex = re.compile(pattern)
    for stamp, text in lines:
        match = regex.search(text)
        if match:
            return stamp, match
    return None, None


def qtest_problems(lines, functions):
    """What is wrong with a QtTest report on the console: a function without
    its PASS, no totals (a crash), or failures and skips in the totals.
    Returns (problems, when the totals came)."""
    problems = []
    for name in functions:
        if first(lines, rf"^PASS   : \w+::{re.escape(name)}\(") == (None, None):
            problems.append(f"missing: PASS of the test function {name}")
    stamp, match = first(lines, r"^Totals: (\d+) passed, (\d+) failed, (\d+) skipped")
    if match is None:
        problems.append("missing: the test's totals (did it crash?)")
    elif (int(match.group(2)), int(match.group(3))) != (0, 0):
        problems.append(f"the test reported: {match.group(0)}")
    return problems, stamp


def reported_failures(lines, extra_pattern=None):
    """Console lines that say something went wrong, wherever they came."""
    problems = []
    for _, text in lines:
        if (re.match(r"^(FAIL!|probe: FAIL|guest: FAIL|QFATAL)", text)
                or re.search(r"Kernel panic|double free|corruption|Segmentation fault|^Aborted", text)
                or (extra_pattern and re.search(extra_pattern, text))):
            problems.append(f"reported: {text}")
    return problems
