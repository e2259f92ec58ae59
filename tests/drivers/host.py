"""Runs the driver tests: boots the guest (scripts/driver-guest) in QEMU with a 16550 UART
and an FTDI USB serial adapter, whose far ends are sockets read here, and
tests/drivers/guest.py inside it. Checks that the bytes the program says it sent arrive
on the host's side of each line as well-formed frames, unplugs and plugs the adapter back
(QMP device_del and device_add) when the guest asks, and times the hang-up's report and
the first frame after each replug.

  host.py GUEST_DIR BUILD_DIR        exit status 0 when every check passed
"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

GUEST, BUILD = sys.argv[1], os.path.abspath(sys.argv[2])
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOOT_SECONDS, RUN_SECONDS = 120, 900
HANG_UP_LIMIT, REPLUG_LIMIT = 1.0, 1.5
# A frame waits for the next whole second, and one frame's line time before it.
FRAME_AFTER_OPEN_LIMIT = 1.1
ADAPTER = {"driver": "usb-serial", "id": "adapter", "bus": "xhci.0", "chardev": "usb",
           "serial": "FT4711"}
failures = []
started = time.monotonic()


def log(*words):
    print(f"[{time.monotonic() - started:7.2f}]", *words, flush=True)


def fail(what):
    failures.append(what)
    log("FAIL:", what)


def connect(path, deadline):
    while True:
        try:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            if qemu.poll() is not None:
                raise RuntimeError(f"QEMU ended with status {qemu.returncode}") from None
            time.sleep(0.05)


class Line:
    """The host's end of one serial line: everything that arrives, with its moment."""

    def __init__(self, path, deadline):
        self.sock = connect(path, deadline)
        self.chunks = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while data := self.sock.recv(4096):
            with self.lock:
                self.chunks.append((time.monotonic(), data))

    def since(self, moment):
        with self.lock:
            return b"".join(d for t, d in self.chunks if t >= moment)

    def first_after(self, moment):
        with self.lock:
            return next((t for t, _ in self.chunks if t >= moment), None)


def well_formed(frame):
    return (len(frame) == 6 and frame[0] == 0xFE and frame[1] == 0x10 and frame[5] == 0xFF
            and frame[2] < 60 and frame[3] < 60 and frame[4] < 24)


class Qmp:
    def __init__(self, path, deadline):
        self.sock = connect(path, deadline)
        self.file = self.sock.makefile("rw")
        self.file.readline()  # the greeting
        self.command("qmp_capabilities")

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            reply = json.loads(self.file.readline())
            if "event" in reply:
                self.events.append(reply)
                continue
            if "error" in reply:
                raise RuntimeError(f"QMP {name}: {reply['error']}")
            return reply

    events = []

    def wait_event(self, name, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(e["event"] == name for e in self.events):
                self.events = [e for e in self.events if e["event"] != name]
                return True
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                line = self.file.readline()
            except (socket.timeout, TimeoutError):
                break
            finally:
                self.sock.settimeout(None)
            if line:
                self.events.append(json.loads(line))
        return False


class Watchdog:
    """Stops QEMU by its process ID when the guest has not booted, or not ended, in time."""

    def __init__(self, qemu):
        self.qemu = qemu
        self.deadline = time.monotonic() + BOOT_SECONDS
        self.what = "the guest did not boot within %d s" % BOOT_SECONDS
        threading.Thread(target=self._watch, daemon=True).start()

    def booted(self):
        log(f"booted in {time.monotonic() - started:.1f} s")
        self.what = "the guest did not end within %d s of booting" % RUN_SECONDS
        self.deadline = time.monotonic() + RUN_SECONDS

    def _watch(self):
        while self.qemu.poll() is None:
            if time.monotonic() > self.deadline:
                fail(self.what)
                os.kill(self.qemu.pid, signal.SIGKILL)
                return
            time.sleep(0.5)


watchdog = qemu = None


def main():
    global watchdog, qemu
    work = tempfile.mkdtemp(prefix="orvantide-drivers-")
    path = lambda name: os.path.join(work, name)  # noqa: E731
    guest_test = os.path.join(SOURCE, "tests", "drivers", "guest.py")
    command = [
        "qemu-system-x86_64", "-accel", "tcg", "-m", "1024", "-smp", "1", "-nodefaults",
        "-no-reboot", "-display", "none", "-kernel", os.path.join(GUEST, "vmlinuz"),
        "-initrd", os.path.join(GUEST, "initramfs.gz"),
        "-append", f"console=ttyS0 quiet panic=-1 guest_test={guest_test} guest_build={BUILD}"
                   f" guest_cycles={os.environ.get('DRIVER_CYCLES', '20')}",
        "-chardev", f"socket,id=console,path={path('console')},server=on,wait=on",
        "-serial", "chardev:console",
        "-chardev", f"socket,id=uart,path={path('uart')},server=on,wait=off",
        "-serial", "chardev:uart",
        "-device", "qemu-xhci,id=xhci",
        "-chardev", f"socket,id=usb,path={path('usb')},server=on,wait=off",
        "-device", ",".join([ADAPTER["driver"]] + [f"{k}={v}" for k, v in ADAPTER.items()
                                                    if k != "driver"]),
        "-fsdev", "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap",
        "-device", "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot",
        "-qmp", f"unix:{path('qmp')},server=on,wait=off",
    ]
    qemu_log = open(path("qemu.log"), "w")
    qemu = subprocess.Popen(command, stdout=qemu_log, stderr=subprocess.STDOUT)
    log("QEMU started, process", qemu.pid)
    watchdog = Watchdog(qemu)
    try:
        deadline = time.monotonic() + 30
        console = connect(path("console"), deadline).makefile("r", errors="replace")
        lines = {"uart": Line(path("uart"), deadline), "usb": Line(path("usb"), deadline)}
        qmp = Qmp(path("qmp"), deadline)
        drive(console, lines, qmp)
    except Exception as error:
        fail(f"{type(error).__name__}: {error}")
    finally:
        if qemu.poll() is None:
            os.kill(qemu.pid, signal.SIGKILL)
        qemu.wait()
        with open(path("qemu.log")) as f:
            # QEMU's own line about waiting for the console's reader is left out.
            said = [line for line in f.read().splitlines() if "waiting for connection" not in line]
            if said:
                log("QEMU said:", "\n".join(said))
        subprocess.run(["rm", "-rf", work])
    log("driver tests:", "passed" if not failures else f"{len(failures)} failed")
    for what in failures:
        print("  -", what)
    return 0 if not failures else 1


def drive(console, lines, qmp):
    """Reads the guest's console, does what it asks, and checks what it reports."""
    phase, unplugged_at, plugged_at, opened_at, replug_words = "boot", 0.0, 0.0, 0.0, []
    checked_to = {"uart": 0.0, "usb": 0.0}
    hang_ups, opens, replugs = [], [], []
    for raw in console:
        text = raw.rstrip()
        if not text.startswith("@@ "):
            if text:
                log("guest:", text)
            continue
        log(text)
        words = text.split()[1:]
        what = words[0]
        if what == "ready":
            watchdog.booted()
        elif what == "phase":
            phase = words[1]
        elif what == "sent" and phase not in lines:
            pass  # the 7-bit line settings leave the eighth bit out: not compared
        elif what == "sent":
            # What the program wrote arrived, byte for byte, as well-formed frames.
            line = lines[phase]
            wanted = bytes.fromhex(words[1])
            deadline = time.monotonic() + 2
            while wanted not in line.since(checked_to[phase]) and time.monotonic() < deadline:
                time.sleep(0.01)
            got = line.since(checked_to[phase])
            if wanted not in got:
                fail(f"{phase}: sent {wanted.hex(' ')}, arrived {got.hex(' ')}")
            elif not all(well_formed(wanted[i:i + 6]) for i in range(0, len(wanted), 6)):
                fail(f"{phase}: not a frame: {wanted.hex(' ')}")
            checked_to[phase] = time.monotonic()
        elif what == "unplug":
            unplugged_at = time.monotonic()
            qmp.command("device_del", id="adapter")
            if not qmp.wait_event("DEVICE_DELETED", 10):
                fail("QEMU did not remove the adapter")
        elif what == "hungup":
            hang_ups.append(time.monotonic() - unplugged_at)
        elif what == "plug":
            checked_to["usb"] = time.monotonic()
            qmp.command("device_add", **ADAPTER)
            plugged_at = time.monotonic()
            replug_words = words
        elif what == "opened":
            opened_at = time.monotonic()
            opens.append(opened_at - plugged_at)
        elif what == "reopened":
            first = lines["usb"].first_after(plugged_at)
            replugs.append((first - plugged_at if first else None, replug_words[-1],
                            first - opened_at if first else None))
        elif what == "resources":
            pass
        elif what == "fail":
            fail("guest: " + " ".join(words[1:]))
        elif what == "done":
            break
    else:
        fail("the guest's console ended before it was done")
    report(hang_ups, opens, replugs)


def report(hang_ups, opens, replugs):
    """The hang-up is reported within a second of the unplug; the port is open again
    within 1.5 s of the replug, and its frame follows at the next whole second."""
    if hang_ups:
        log(f"hang-up reported after device_del: max {max(hang_ups):.3f} s over {len(hang_ups)}")
        if max(hang_ups) > HANG_UP_LIMIT:
            fail(f"a hang-up was reported {max(hang_ups):.3f} s after the unplug")
    if not replugs:
        fail("no replug was tried")
        return
    times = [t for t, _, _ in replugs if t is not None]
    after_open = [t for _, _, t in replugs if t is not None]
    gone = sum(1 for _, folder, _ in replugs if folder == "gone")
    log(f"port open again after device_add: max {max(opens, default=0):.3f} s over {len(opens)}")
    log(f"first frame after device_add: max {max(times, default=0):.3f} s, after the port "
        f"opened: max {max(after_open, default=0):.3f} s, over {len(times)} of {len(replugs)} "
        f"replugs; /dev/serial gone at {gone} of them")
    if len(opens) < len(replugs) or max(opens) > REPLUG_LIMIT:
        fail(f"the port was opened late or not at all after a replug: {opens}")
    if len(times) < len(replugs) or max(after_open) > FRAME_AFTER_OPEN_LIMIT:
        fail(f"a frame after a replug came late or not at all: {replugs}")


sys.exit(main())
