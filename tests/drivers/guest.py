"""The driver tests inside the virtual machine (tests/drivers/host.py starts it).

The first process of the guest: it mounts what a system has, starts udev, runs the
built program --headless on the 16550 UART (/dev/ttyS1) and on the USB adapter (ftdi_sio),
and talks to the host over the console in lines that begin with "@@": the bytes the
program says it sent, which the host compares with what arrived on its side of the line,
and the moments to unplug and plug the adapter back, which the host does and times.
"""

import os
import queue
import re
import subprocess
import sys
import threading
import time

BUILD = sys.argv[1]
PROGRAM = os.path.join(BUILD, "orvantide")
BY_ID = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_FT4711-if00-port0"
OTHER_USER = "64711"
failures = []


def say(*words):
    print("@@", *words, flush=True)


def check(ok, what):
    if not ok:
        failures.append(what)
        say("fail", what)
    return ok


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def set_up_system():
    os.environ["PATH"] = "/usr/sbin:/usr/bin"
    # /tmp stays the host's under the guest's own writable layer: a checkout there (as a
    # CI clone may be) stays visible.
    for kind, where, options in [("proc", "/proc", ""), ("sysfs", "/sys", ""),
                                 ("tmpfs", "/run", "mode=755"), ("devpts", "/dev/pts", "")]:
        os.makedirs(where, exist_ok=True)
        run("mount", "-t", kind, *(["-o", options] if options else []), kind, where)
    run("/usr/lib/systemd/systemd-udevd", "--daemon")
    run("udevadm", "trigger", "--action=add")
    run("udevadm", "settle", "--timeout=60")


def write_settings(path, port, line):
    with open(path, "w", newline="") as f:
        f.write(f"[Settings]\r\nCommPort={port}\r\nSetting={line}\r\n[Sync]\r\nInterval=0\r\n")
    os.chmod(path, 0o644)


class Program:
    """The built program --headless, its log read as it comes."""

    def __init__(self, settings, user=None):
        command = [PROGRAM, "--headless", "--settings", settings]
        if user:
            command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups",
                       "env", f"HOME=/tmp/{user}"] + command
        env = dict(os.environ, QT_LOGGING_RULES="orvantide.*=true",
                   XDG_RUNTIME_DIR=f"/tmp/runtime-{user or 'root'}")
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        if user:
            os.chown(env["XDG_RUNTIME_DIR"], int(user), int(user))
        self.process = subprocess.Popen(command, env=env, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.seen = []  # the lines read so far by wait_for
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stderr:
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, pattern, seconds):
        """The first log line from now that matches, or None after `seconds`."""
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                break
            self.seen.append(line)
            if re.search(pattern, line):
                if " sent " in f" {line} ":
                    say("sent", line.split(" sent ", 1)[1].split(" for ")[0].replace(" ", ""))
                return line
        return None

    def end(self):
        self.process.terminate()
        self.process.wait(timeout=30)

    def resources(self):
        """Open descriptors, inotify watches and resident memory in KiB."""
        pid = self.process.pid
        fds = os.listdir(f"/proc/{pid}/fd")
        watches = 0
        for fd in fds:
            try:
                with open(f"/proc/{pid}/fdinfo/{fd}") as info:
                    watches += info.read().count("inotify wd:")
            except OSError:
                pass
        with open(f"/proc/{pid}/status") as status:
            rss = int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))
        return len(fds), watches, rss


def stty_shows(device, words):
    settings = run("stty", "-F", device, "-a")
    missing = [w for w in words if not re.search(rf"(^|[ ;]){re.escape(w)}([ ;]|$)", settings, re.M)]
    return check(not missing, f"stty -F {device} lacks {missing}: {settings!r}")


def test_uart():
    say("phase", "uart")
    write_settings("/tmp/uart.ini", "2", "9600,N,8,1")
    first = Program("/tmp/uart.ini")
    check(first.wait_for(r"\bsent ", 60), "no start-up frame on /dev/ttyS1")
    stty_shows("/dev/ttyS1", ["speed 9600 baud", "cs8", "-parenb", "-cstopb"])
    # The settings read again (SIGHUP) reopen the port with the new line and sync.
    write_settings("/tmp/uart.ini", "2", "4800,E,7,2")
    first.process.send_signal(1)
    say("phase", "uart-7e2")
    check(first.wait_for(r"\bsent ", 30), "no frame after the settings were read again")
    stty_shows("/dev/ttyS1", ["speed 4800 baud", "cs7", "parenb", "-parodd", "cstopb"])
    write_settings("/tmp/uart.ini", "2", "9600,N,8,1")
    first.process.send_signal(1)
    say("phase", "uart")
    check(first.wait_for(r"\bsent ", 30), "no frame after 9600,N,8,1 again")

    # A second program for the same port, from another settings file: root, and a user
    # the port's permissions let in, are both told which process has it.
    write_settings("/tmp/second.ini", "/dev/ttyS1", "9600,N,8,1")
    os.chmod("/dev/ttyS1", 0o666)
    for user in (None, OTHER_USER):
        second = Program("/tmp/second.ini", user)
        told = second.wait_for(r"in use by another program", 30)
        say("told", user or "root", told)
        check(told and f"(process {first.process.pid})" in told,
              f"second program ({user or 'root'}) was told {told!r}")
        second.end()
    first.end()


def unplug_and_plug(program, cycle):
    """One cycle; the host unplugs and plugs the adapter as told and times both."""
    say("unplug", cycle)
    first_line = len(program.seen)
    check(program.wait_for(r"hung up", 10), f"cycle {cycle}: the hang-up was not reported")
    say("hungup", cycle)
    # udev takes /dev/serial away with the last adapter: the replug is to find it anyway.
    deadline = time.monotonic() + 5
    while os.path.exists("/dev/serial") and time.monotonic() < deadline:
        time.sleep(0.01)
    say("plug", cycle, "serial-folder", "present" if os.path.exists("/dev/serial") else "gone")
    plugged = time.monotonic()
    check(program.wait_for(r"port open", 10), f"cycle {cycle}: the port was not opened again")
    if time.monotonic() - plugged > 2:  # the program's own account of a late return
        for line in program.seen[first_line:]:
            say("log", line)
    say("opened", cycle)
    check(program.wait_for(r"\bsent ", 10), f"cycle {cycle}: no frame after the replug")
    say("reopened", cycle)


def test_usb(port, cycles):
    say("phase", "usb")
    deadline = time.monotonic() + 30
    while not os.path.exists(BY_ID) and time.monotonic() < deadline:
        time.sleep(0.05)
    if not check(os.path.exists(BY_ID), f"udev made no {BY_ID}"):
        return
    write_settings("/tmp/usb.ini", port, "9600,N,8,1")
    program = Program("/tmp/usb.ini")
    check(program.wait_for(r"\bsent ", 60), f"no start-up frame on {port}")
    baseline = None
    for cycle in range(1, cycles + 1):
        unplug_and_plug(program, cycle)
        if cycle == min(3, cycles):
            baseline = program.resources()
    after = program.resources()
    say("resources", port, "fds/watches/rss-kib", baseline, after)
    check(after[:2] == baseline[:2] and after[2] - baseline[2] <= 512,
          f"{port}: descriptors, watches or memory grew: {baseline} -> {after}")
    program.end()


def main():
    try:
        set_up_system()
        say("ready")
        test_uart()
        test_usb(BY_ID, int(os.environ.get("guest_cycles", "20")))
        test_usb("/dev/ttyUSB0", 5)
    except Exception as error:  # the host is told, and the guest ends either way
        check(False, f"{type(error).__name__}: {error}")
    finally:
        say("done", "ok" if not failures else f"{len(failures)} failed")
        with open("/proc/sysrq-trigger", "w") as trigger:
            trigger.write("o")


main()
