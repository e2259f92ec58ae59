#!/usr/bin/env bash
# The Windows program under Wine as a user gets it: the zip unpacked into a fresh Wine
# prefix, COM5 mapped to a pseudo-terminal that the display emulator reads. Needs an X
# server (DISPLAY).
#
#   check_windows.sh ZIP LINUX_BUILD_DIR
set -euo pipefail
zip=$1
linux_build=$2
scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
wait_for() { # seconds, command...
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}

export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
unzip -q "$zip" -d "$scratch/unpacked"
app=$WINEPREFIX/drive_c/Orvantide
mv "$scratch"/unpacked/* "$app"
check "the zip holds the program, its settings file and the text on the port" \
    test -f "$app/orvantide.exe" -a -f "$app/orvtide.ini" -a -f "$app/README.txt"

"$linux_build/display-emulator" --pty "$scratch/display" --json >"$scratch/frames" 2>/dev/null &
pids+=($!)
wait_for 10 test -L "$scratch/display"
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$(readlink "$scratch/display")" /f \
    >/dev/null 2>&1
# Older Wines read the mapping from a link in dosdevices.
ln -sfn "$(readlink "$scratch/display")" "$WINEPREFIX/dosdevices/com5"
wineserver -w
frames() { grep -c '"event":"frame"' "$scratch/frames" || true; }

# Bad settings: the message box, answered, and status 2.
printf '[Settings]\r\nCommPort=x\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n' >"$app/orvtide.ini"
(cd "$app" && wine orvantide.exe >/dev/null 2>&1; echo $? >"$scratch/bad-status") &
# The key may come before the box takes keys: it is pressed again until the program ends.
answered=no
for _ in $(seq 60); do
    [ -f "$scratch/bad-status" ] && break
    box=$(xdotool search --name '^Orvantide$' 2>/dev/null | head -n 1 || true)
    if [ -n "$box" ]; then
        timeout 5 xdotool windowfocus --sync "$box" >/dev/null 2>&1
        xdotool key Return && answered=yes
    fi
    sleep 1
done
wait_for 20 test -f "$scratch/bad-status" || true
check "bad settings: a message box, and status 2" test "$(cat "$scratch/bad-status" 2>/dev/null)" = 2 -a "$answered" = yes

# The start-up frame reaches the display on COM5, carrying the host's time.
printf '[Settings]\r\nCommPort=5\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n' >"$app/orvtide.ini"
(cd "$app" && exec wine orvantide.exe >/dev/null 2>&1) &
pids+=($!)
check "the start-up frame arrives on COM5" wait_for 60 test "$(frames)" -ge 1
offset_ok() {
    grep '"event":"frame"' "$scratch/frames" | head -n 1 |
        sed -n 's/.*"offset_ms":\(-\{0,1\}[0-9.]*\).*/\1/p' | awk '{ exit !($1 > -1500 && $1 < 1500) }'
}
check "it carries the time of day" offset_ok

# SYNC NOW: a second start brings the window forward; its button sends another frame.
(cd "$app" && wine orvantide.exe >/dev/null 2>&1; echo $? >"$scratch/second-status") &
wait_for 30 test -f "$scratch/second-status" || true
check "a second start ends with status 0" test "$(cat "$scratch/second-status" 2>/dev/null)" = 0
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^KV7R/9R Orvantide$' 2>/dev/null | head -n 1 || true)
before=$(frames)
# "SYNC NOW" is the window's one button, so it has the focus: the space bar presses it.
if [ -n "$window" ]; then
    timeout 5 xdotool windowfocus --sync "$window" >/dev/null 2>&1; xdotool key space
fi
check "SYNC NOW sends another frame" wait_for 10 test "$(frames)" -gt "$before"

echo "$failures failed"
[ "$failures" -eq 0 ]
