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
        """The kernel of this release's linux-image-amd64, unpacked into the
        cache by fetch-kernel (nothing of it is installed on this machine):
        (version, image, module folder)."""
        fetch = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fetch-kernel")
        result = subprocess.run([fetch], capture_output=True, text=True, timeout=1800)
        if result.returncode != 0:
            self.fail(f"no Debian kernel for the guest: {result.stderr.strip()[-2000:]}")
        folder = result.stdout.strip()
        images = glob.glob(os.path.join(folder, "boot", "vmlinuz-*"))
        if len(images) != 1:
            self.fail(f"{folder} holds {len(images)} kernels, not one")
        image = images[0]
        version = os.path.basename(image)[len("vmlinuz-"):]
        module_dir = os.path.join(folder, "lib", "modules", version)
        hid_dir = os.path.join(module_dir, "kernel/drivers/hid")
        # Debian 13 ships its modules xz-compressed, Debian 12 as they are.
        if not all(os.path.isfile(os.path.join(hid_dir, m + ".ko")) or
                   os.path.isfile(os.path.join(hid_dir, m + ".ko.xz")) for m in HID_MODULES):
            self.fail(f"the kernel in {folder} lacks hid, uhid or hid-generic (.ko or .ko.xz)")
        return version, image, module_dir

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
