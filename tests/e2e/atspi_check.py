#!/usr/bin/python3
"""The running program as a screen reader sees it, through the real accessibility bus.

Run on a session bus of its own (dbus-run-session), with an X server it starts for itself:
the bus starts the accessibility bus when the program asks for it. The program talks to a
display emulator; the check brings the window forward with a second start, reads its tree
(roles and names), presses "SYNC NOW" through its action and waits for the frame, then
opens the settings through the menu item's action and finds each box labelled by its
label. With the argument "de" the program runs under
LANG=de_DE.UTF-8 and every name is the German one.

With the argument "service" the display is the service's, run by another user (setpriv),
the owner of the settings file: the window shows the service, its SYNC NOW asks the
service for a frame and closing its settings dialog asks it to read them again; a stranger
who asks for a frame is refused.
"""
import atexit
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# An X server of the check's own: the accessibility bus is found through a property of the
# X root window, which another test's clients on a shared X server (a GTK tray host) would
# set to their own bus.
_xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                          "-nolisten", "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
atexit.register(_xvfb.kill)
os.environ["DISPLAY"] = ":" + _xvfb.stdout.readline().decode().strip()

import pyatspi  # noqa: E402 (after the X server it is to use)

DEADLINE_S = 30  # an upper bound for a loaded machine, never a wait of its own

NAMES = {
    "en": {"Clock": "Clock", "Status": "Status", "SYNC NOW": "SYNC NOW",
           "Setting": "Setting", "Settings": "Settings", "Port": "Port", "Every": "Every",
           "Last Sync at ": "Last Sync at "},
    "service": {"Clock": "Clock", "Status": "Status", "SYNC NOW": "SYNC NOW",
                "Setting": "Setting", "Settings": "Settings", "Port": "Port", "Every": "Every",
                "Last Sync at ": "Last Sync at ", "title": "KV7R/9R Orvantide (service)"},
    "de": {"Clock": "Uhr", "Status": "Status", "SYNC NOW": "ABGLEICHEN",
           "Setting": "Einstellung", "Settings": "Einstellungen", "Port": "Port",
           "Every": "Intervall", "Last Sync at ": "Abgeglichen am "},
}


def wait_for(what, probe):
    end = time.monotonic() + DEADLINE_S
    while time.monotonic() < end:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    debug_tree()
    sys.exit(f"FAIL {what}: not seen within {DEADLINE_S} s")


def debug_tree():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None:
            print("app", app.name, [(n.getRoleName(), n.name) for n in nodes(app)][:5], flush=True)


def nodes(accessible):
    """Every accessible below `accessible`, itself included."""
    yield accessible
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def application(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            return app
    return None


def find(root, role, name):
    for node in nodes(root):
        if node.getRoleName() == role and node.name == name:
            return node
    return None


# The users the service and a stranger run as: no entry in /etc/passwd is needed.
SERVICE_USER = 64711
STRANGER = 64712


def as_user(uid, command):
    return ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups", "--"] + command


def text_of(path):
    with open(path, encoding="utf-8", errors="replace") as log:
        return log.read()


def frames(path):
    with open(path, encoding="utf-8") as out:
        return sum(1 for line in out if '"event":"frame"' in line)


def main():
    language = sys.argv[1] if len(sys.argv) > 1 else "en"
    name = NAMES[language]
    folder = tempfile.mkdtemp(prefix="orvantide-atspi-")
    program = os.path.join(folder, "orvantide")
    shutil.copy(os.environ["ORVANTIDE_BIN"], program)
    link = os.path.join(folder, "display")
    received = os.path.join(folder, "frames.json")
    with open(received, "w", encoding="utf-8") as out:
        emulator = subprocess.Popen(
            [os.environ["DISPLAY_EMULATOR_BIN"], "--pty", link, "--json"], stdout=out)
    running = None
    service = None
    service_log = os.path.join(folder, "service.log")
    settings = os.path.join(folder, "orvtide.ini")
    try:
        wait_for("the emulator's port", lambda: os.path.islink(link))
        with open(settings, "w", encoding="utf-8") as ini:
            ini.write(f"[Settings]\r\nCommPort={link}\r\nSetting=9600,N,8,1\r\n"
                      "[Sync]\r\nInterval=60\r\n")
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        for variable in ("QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES", "LANGUAGE"):
            env.pop(variable, None)
        env["LANG"] = "de_DE.UTF-8" if language == "de" else "C.UTF-8"
        if language == "service":
            # The service's user owns the settings and may use the display's port.
            os.chmod(folder, 0o755)
            os.chown(settings, SERVICE_USER, SERVICE_USER)
            os.chmod(os.path.realpath(link), 0o666)
            service_env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            with open(service_log, "w", encoding="utf-8") as log:
                service = subprocess.Popen(
                    as_user(SERVICE_USER, [os.environ["ORVANTIDE_SERVICE_BIN"],
                                           "--settings", settings]),
                    env=service_env, stderr=log)
            wait_for("the service's start-up frame", lambda: frames(received) >= 1)
        running = subprocess.Popen([program], env=env)
        wait_for("the start-up frame", lambda: frames(received) >= 1)
        title = name.get("title", "KV7R/9R Orvantide")
        if language == "service":
            # The service's frame came before the window: the window is waited for (hidden,
            # it has no name yet).
            wait_for("the window of the service",
                     lambda: application("Orvantide") and find(application("Orvantide"),
                                                               "push button", "SYNC NOW"))
        # Synchronised, the window gives way; a second start brings it back, as a user
        # would.
        if subprocess.run([program], env=env, timeout=DEADLINE_S).returncode != 0:
            sys.exit("FAIL a second start did not bring the window forward")

        app = wait_for("the program on the accessibility bus",
                       lambda: application("Orvantide"))
        window = wait_for("the main window", lambda: find(app, "frame", title))
        for role, text in [("label", "Clock"), ("label", "Status"),
                           ("push button", "SYNC NOW"), ("menu item", "Setting")]:
            if find(window, role, name[text]) is None:
                sys.exit(f"FAIL no {role} named {name[text]!r} in the window")
        print("ok   the window's clock, status, button and menu item have names")

        def shown_text(label):
            text = find(window, "label", name[label]).queryText()
            return text.getText(0, text.characterCount)
        clock = shown_text("Clock")
        if not re.fullmatch(r"\d\d:\d\d:\d\d", clock):
            sys.exit(f"FAIL the clock reads {clock!r}, not the time")
        status = shown_text("Status")
        if not status.startswith(name["Last Sync at "]):
            sys.exit(f"FAIL the status line reads {status!r}")
        for node in nodes(window):
            showing = node.getState().contains(pyatspi.STATE_SHOWING)
            if node.getRoleName() in ("label", "image") and not node.name and showing:
                sys.exit("FAIL an unnamed picture is shown to the screen reader")
        print(f"ok   the clock reads {clock}, the status line {status!r}")

        before = frames(received)
        sync = find(window, "push button", name["SYNC NOW"])
        sync.queryAction().doAction(0)
        wait_for("a frame after SYNC NOW pressed through its action",
                 lambda: frames(received) > before)
        print("ok   SYNC NOW pressed through the accessibility bus sends a frame")
        if language == "service":
            wait_for("the service's word that it was asked",
                     lambda: "SYNC NOW" in text_of(service_log))
            print("ok   the frame was the service's")

        find(window, "menu item", name["Setting"]).queryAction().doAction(0)
        dialog = wait_for("the settings dialog", lambda: find(app, "dialog", name["Settings"]))
        for label, box in [(name["Port"], "combo box"), (name["Every"], "combo box")]:
            def labelled(label=label, box=box):
                for node in nodes(dialog):
                    if node.getRoleName() != box:
                        continue
                    for relation in node.getRelationSet():
                        if relation.getRelationType() != pyatspi.RELATION_LABELLED_BY:
                            continue
                        for i in range(relation.getNTargets()):
                            if relation.getTarget(i).name.replace("&", "") == label:
                                return True
                return False
            wait_for(f"a {box} labelled {label!r}", labelled)
        print("ok   the dialog's boxes are labelled by their labels")

        if language == "service":
            # Esc closes the dialog, which asks the service to read the settings again.
            before = frames(received)
            subprocess.run(["xdotool", "search", "--sync", "--name", "^" + name["Settings"] + "$",
                            "windowfocus", "--sync", "key", "Escape"], timeout=DEADLINE_S,
                           check=False)
            wait_for("the service reading its settings again",
                     lambda: "settings read again" in text_of(service_log))
            wait_for("the frame that follows", lambda: frames(received) > before)
            print("ok   closing the settings dialog has the service read them again")
            stranger = subprocess.run(
                as_user(STRANGER, [sys.executable, "-c", STRANGER_ASKS, settings]),
                capture_output=True, text=True, timeout=DEADLINE_S)
            if not stranger.stdout.startswith("may 0 "):
                sys.exit(f"FAIL a stranger was told {stranger.stdout!r} {stranger.stderr!r}")
            wait_for("the service refusing the stranger",
                     lambda: "refused sync" in text_of(service_log))
            print("ok   a stranger may watch the service, and is refused a frame")
    finally:
        for process in (running, service, emulator):
            if process is not None:
                process.terminate()
                process.wait(timeout=DEADLINE_S)
        shutil.rmtree(folder, ignore_errors=True)


# A stranger's request: watches the service for the settings file given, asks for a frame
# and prints what the service says of its rights.
STRANGER_ASKS = """
import hashlib, os, socket, sys
path = os.path.realpath(sys.argv[1])
name = "orvantide-" + hashlib.sha256(path.encode()).hexdigest()[:24]
peer = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
peer.settimeout(30)
peer.connect("\\0" + name)
peer.sendall(b"watch\\nsync\\n")
said = b""
while said.count(b"\\n") < 2:
    said += peer.recv(4096)
print(said.split(b"\\n")[1].decode())
"""


if __name__ == "__main__":
    main()
