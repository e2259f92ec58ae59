#!/usr/bin/env bash
# The Windows program under Wine as a user gets it: the zip unpacked into a fresh Wine
# prefix, COM5 mapped to a pseudo-terminal that the display emulator reads, on a desktop
# with a window manager (openbox); then the installer, and an upgrade to NEXT_MSI, in a
# prefix of their own. Needs an X server (DISPLAY).
#
#   check_windows.sh ZIP LINUX_BUILD_DIR MSI NEXT_MSI
set -euo pipefail
zip=$1
linux_build=$2
msi=$3
next_msi=$4
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

. "$(dirname "$0")/wine.sh"
openbox >/dev/null 2>&1 &
pids+=($!)
new_wine_prefix "$scratch"
unzip -q "$zip" -d "$scratch/unpacked"
app=$WINEPREFIX/drive_c/Orvantide
mv "$scratch"/unpacked/* "$app"
check "the zip holds the program, the service, its settings file and the text on the port" \
    test -f "$app/orvantide.exe" -a -f "$app/orvantide-service.exe" -a -f "$app/orvtide.ini" \
    -a -f "$app/README.txt"

display_on_port "$linux_build/display-emulator" "$scratch" COM5
pids+=("$display_pid")
# Runs the program from its folder and writes its exit status to a file.
run_program() { # status file
    local status=0
    (cd "$app" && wine orvantide.exe >/dev/null 2>&1) || status=$?
    echo "$status" >"$1"
}
record=$scratch/display.json
frames() { grep -c '"event":"frame"' "$record" || true; }
frames_above() { [ "$(frames)" -gt "$1" ]; } # counted afresh on each call
settings() { # CommPort
    printf '[Settings]\r\nCommPort=%s\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n' "$1" \
        >"$app/orvtide.ini"
}
# Brings a window forward as a click on it would, and types `keys` into it.
type_into() { # window, keys...
    local window=$1
    shift
    timeout 10 xdotool windowactivate --sync "$window" >/dev/null 2>&1 && xdotool key "$@"
}
find_window() { # name (a regular expression)
    timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}

# Bad settings: the message box, answered, status 2, and nothing sent.
settings x
run_program "$scratch/bad-status" &
box=$(find_window '^Orvantide$')
# The key may come before the box takes keys: it is pressed again until the program ends.
for _ in $(seq 30); do
    [ -n "$box" ] && ! [ -f "$scratch/bad-status" ] || break
    type_into "$box" Return || true
    wait_for 1 test -f "$scratch/bad-status" || true
done
check "bad settings: a message box, and once answered status 2" \
    test -n "$box" -a "$(cat "$scratch/bad-status" 2>/dev/null)" = 2
check "bad settings: nothing is sent" test "$(frames)" -eq 0

# The start-up frame reaches the display on COM5, carrying the host's time.
settings 5
(cd "$app" && exec wine orvantide.exe >/dev/null 2>&1) &
pids+=($!)
check "the start-up frame arrives on COM5" wait_for 60 frames_above 0
offset_ok() {
    local offset
    offset=$(grep '"event":"frame"' "$record" | head -n 1 |
        sed -n 's/.*"offset_ms":\(-\{0,1\}[0-9.]*\).*/\1/p')
    # Within a quarter of a second of the host's clock: Wine's timing is not Windows', but
    # a frame sent at once, not on the second, would be up to a second behind.
    [ -n "$offset" ] && awk -v o="$offset" 'BEGIN { exit !(o > -250 && o < 250) }'
}
check "it carries the time of day, on the second" offset_ok

# A second start brings the window forward and ends with status 0; "SYNC NOW", the
# window's one button and so the one with the focus, sends another frame.
run_program "$scratch/second-status" &
wait_for 30 test -f "$scratch/second-status" || true
check "a second start ends with status 0" test "$(cat "$scratch/second-status" 2>/dev/null)" = 0
window=$(find_window '^KV7R/9R Orvantide$')
before=$(frames)
[ -n "$window" ] && type_into "$window" space
check "SYNC NOW sends another frame" wait_for 10 frames_above "$before"

# Run at login: "Setting" opens the dialog; its check box (after the two lists and SET)
# writes the machine's Run value, and clearing it removes the value.
run_value() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Orvantide 2>/dev/null |
        sed -n 's/^ *Orvantide *REG_SZ *//p' | tr -d '\r'
}
run_value_is() { [ "$(run_value)" = "$1" ]; }
if [ -n "$window" ]; then
    timeout 10 xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool mousemove --window "$window" 25 10 click 1 # the menu bar's "Setting"
fi
dialog=$(find_window '^Settings$')
[ -n "$dialog" ] && type_into "$dialog" Tab Tab Tab space
check "run at login writes the Run value" \
    wait_for 10 run_value_is 'C:\Orvantide\orvantide.exe -systray'
[ -n "$dialog" ] && type_into "$dialog" space
check "clearing it removes the value" wait_for 10 run_value_is ""

# The service program as the service control manager runs it: created, started (its
# start-up frame), running, stopped (its log says so) and deleted. The windowed program
# ends first: the port is the service's.
disown -a # its end is no failure of the check's
wineserver -k 2>/dev/null || true
wineserver -w
service_state_of() { wine sc query "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p'; }
service_is_named() { [ "$(service_state_of "$1")" = "$2" ]; }
service_state() { service_state_of OrvantideCheck; }
service_is() { service_is_named OrvantideCheck "$1"; }
before=$(frames)
# A log past 1 MiB is kept as .old at the start, and a new one begun.
head -c 1100000 /dev/zero | tr '\0' x >"$app/orvantide-service.log"
wine sc create OrvantideCheck \
    binPath= 'C:\Orvantide\orvantide-service.exe --settings C:\Orvantide\orvtide.ini' >/dev/null 2>&1
wine sc start OrvantideCheck >/dev/null 2>&1
check "the service's start-up frame arrives on COM5" wait_for 60 frames_above "$before"
check "the service control manager hears that it runs" wait_for 30 service_is RUNNING
# The windowed program beside the service shows it: a second start brings its window
# forward, whose "SYNC NOW" has the service send a frame.
(cd "$app" && exec wine orvantide.exe >/dev/null 2>&1) &
face=$!
face_window_made() { xdotool search --name '^KV7R/9R Orvantide \(service\)$' >/dev/null 2>&1; }
wait_for 60 face_window_made || true
run_program "$scratch/face-status" &
wait_for 30 test -f "$scratch/face-status" || true
window=$(find_window '^KV7R/9R Orvantide \(service\)$')
check "the windowed program shows the service" test -n "$window"
before=$(frames)
[ -n "$window" ] && type_into "$window" space
check "its SYNC NOW has the service send a frame" wait_for 20 frames_above "$before"
kill "$face" 2>/dev/null || true
wait "$face" 2>/dev/null || true
before=$(frames)
wine sc stop OrvantideCheck >/dev/null 2>&1
check "it stops when the manager asks" wait_for 30 service_is STOPPED
check "its log beside the settings file says so" \
    grep -q "stopped by the service control manager" "$app/orvantide-service.log"
check "a log past 1 MiB was kept as .old, and a new one begun" \
    test "$(stat -c %s "$app/orvantide-service.log.old")" -eq 1100000 -a \
    "$(stat -c %s "$app/orvantide-service.log")" -lt 100000
wine sc delete OrvantideCheck >/dev/null 2>&1
check "it is deleted" test -z "$(service_state)"

# The installer, in a fresh prefix: per machine under Program Files, a Start-menu
# shortcut, an entry in "Apps & features"; removal of an untouched installation leaves
# nothing. Installed again with the display's port: the program starts from the
# shortcut's target and its frame arrives; an upgrade with the service keeps the edited settings file and starts the
# service; removal leaves no service, file, shortcut, Run value, entry or key of the
# program's.
mkdir -p "$scratch/msi"
new_wine_prefix "$scratch/msi"
display_on_port "$linux_build/display-emulator" "$scratch/msi" COM5
pids+=("$display_pid")
record=$scratch/msi/display.json
installed="$WINEPREFIX/drive_c/Program Files/Orvantide"
msiexec() { wine msiexec "$@" /qn >/dev/null 2>&1; }
entries() { # what "Apps & features" lists of the program: name, version, publisher
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | sed -n 's/^ *\(DisplayName\|DisplayVersion\|Publisher\) *REG_SZ *//p' |
        paste -sd ' '
}
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Orvantide.lnk' | head -n 1; }
nothing_left() {
    [ ! -e "$installed" ] && [ -z "$(shortcut)" ] && [ -z "$(entries)" ] && [ -z "$(run_value)" ] &&
        ! wine reg query 'HKLM\Software\Orvantide' >/dev/null 2>&1
}
version=$(basename "$msi" | sed 's/^orvantide-\(.*\)-win64\.msi$/\1/')
next_version=$(basename "$next_msi" | sed 's/^orvantide-\(.*\)-win64\.msi$/\1/')
msiexec /i "$(winepath -w "$msi")"
check "the installer puts the program and its settings under Program Files" \
    test -f "$installed/orvantide.exe" -a -f "$installed/orvtide.ini"
check "it makes a Start-menu shortcut" test -n "$(shortcut)"
check "Apps & features lists it with its version and publisher" \
    test "$(entries)" = "Orvantide $version Orvantide"
msiexec /x "$(winepath -w "$msi")"
check "removing an untouched installation leaves nothing" nothing_left

msiexec /i "$(winepath -w "$msi")" COMMPORT=5
settings_file=$installed/orvtide.ini
check "COMMPORT=5 stores the port in the settings file" grep -q '^CommPort=5' "$settings_file"
(cd "$installed" && exec wine orvantide.exe >/dev/null 2>&1) &
pids+=($!)
check "the installed program's start-up frame arrives on COM5" wait_for 60 frames_above 0
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Orvantide /t REG_SZ \
    /d "\"C:\\Program Files\\Orvantide\\orvantide.exe\" -systray" /f >/dev/null 2>&1
disown -a
wineserver -k 2>/dev/null || true
wineserver -w
before=$(frames)
msiexec /i "$(winepath -w "$next_msi")" ADDLOCAL=Main,Service
check "an upgrade replaces the program" test "$(entries)" = "Orvantide $next_version Orvantide"
check "and keeps the edited settings file" grep -q 'CommPort=5' "$settings_file"
check "the service feature installs the service, which starts and sends a frame" \
    wait_for 60 frames_above "$before"
check "the service runs" wait_for 30 service_is_named Orvantide RUNNING
check "and starts with Windows" test "$(wine reg query 'HKLM\System\CurrentControlSet\Services\Orvantide' \
    /v Start 2>/dev/null | tr -d '\r' | sed -n 's/^ *Start *REG_DWORD *//p')" = 0x2
msiexec /x "$(winepath -w "$next_msi")"
check "removal stops and deletes the service" test -z "$(service_state_of Orvantide)"
check "removal leaves nothing: no file, shortcut, Run value, entry or key" nothing_left

echo "$failures failed"
[ "$failures" -eq 0 ]
