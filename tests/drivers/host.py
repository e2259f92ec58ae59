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
LIMIT_SECONDS = 600  # a run takes about 45 s, 65 s on a busy machine
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
        self.file = connect(path, deadline).makefile("rw")
        self.file.readline()  # the greeting
        self.command("qmp_capabilities")

    events = []  # events read while a command's answer was awaited

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        while "event" in (reply := json.loads(self.file.readline())):
            self.events.append(reply["event"])
        if "error" in reply:
            raise RuntimeError(f"QMP {name}: {reply['error']}")

    def wait_event(self, name):
        """Bounded by the run's limit, which stops QEMU and so ends the stream."""
        while name not in self.events:
            self.events.append(json.loads(self.file.readline()).get("event"))
        self.events.remove(name)


def stop_after(seconds):
    """Stops QEMU by its process ID when the guest has not ended within `seconds`."""
    def stop():
        if qemu.poll() is None:
            fail(f"the guest did not end within {seconds} s")
            os.kill(qemu.pid, signal.SIGKILL)
    timer = threading.Timer(seconds, stop)
    timer.daemon = True
    timer.start()


qemu = None


def main():
    global qemu
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
    stop_after(LIMIT_SECONDS)
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
    phase, unplugged_at, plugged_at, opened_at, folder = "boot", 0.0, 0.0, 0.0, ""
    checked_to = {"uart": 0.0, "usb": 0.0}
    hang_ups, opens, frames = [], [], []  # frames: after the open, None for none
    for raw in console:
        text = raw.rstrip()
        if not text.startswith("@@ "):
            if text:
                log("guest:", text)
            continue
        log(text)
        what, *words = text.split()[1:]
        if what == "ready":
            log(f"booted in {time.monotonic() - started:.1f} s")
        elif what == "phase":
            phase = words[0]
        elif what == "sent" and phase in lines:
            # What the program wrote arrived, byte for byte, as well-formed frames (not
            # compared at 7 data bits, which leave the eighth bit out).
            line = lines[phase]
            wanted = bytes.fromhex(words[0])
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
            qmp.wait_event("DEVICE_DELETED")
        elif what == "hungup":
            hang_ups.append(time.monotonic() - unplugged_at)
        elif what == "plug":
            folder = words[-1]
            checked_to["usb"] = time.monotonic()
            qmp.command("device_add", **ADAPTER)
            plugged_at = time.monotonic()
        elif what == "opened":
            opened_at = time.monotonic()
            opens.append((opened_at - plugged_at, folder))
        elif what == "reopened":
            first = lines["usb"].first_after(opened_at)
            frames.append(first - opened_at if first else None)
        elif what == "fail":
            fail("guest: " + " ".join(words))
        elif what == "done":
            break
    else:
        fail("the guest's console ended before it was done")
    report(hang_ups, opens, frames)


def report(hang_ups, opens, frames):
    """The hang-up is reported within a second of the unplug; the port is open again
    within 1.5 s of the replug, and its frame follows at the next whole second."""
    if hang_ups:
        log(f"hang-up reported after device_del: max {max(hang_ups):.3f} s over {len(hang_ups)}")
        if max(hang_ups) > HANG_UP_LIMIT:
            fail(f"a hang-up was reported {max(hang_ups):.3f} s after the unplug")
    if not opens:
        fail("no replug was tried")
        return
    gone = sum(1 for _, folder in opens if folder == "gone")
    log(f"port open again after device_add: max {max(t for t, _ in opens):.3f} s over "
        f"{len(opens)} replugs, /dev/serial gone at {gone}; its frame after the open: max "
        f"{max((t for t in frames if t is not None), default=0):.3f} s")
    if max(t for t, _ in opens) > REPLUG_LIMIT:
        fail(f"the port was opened late after a replug: {opens}")
    if len(frames) < len(opens) or None in frames or max(frames) > FRAME_AFTER_OPEN_LIMIT:
        fail(f"a frame after a replug came late or not at all: {frames}")


sys.exit(main())
