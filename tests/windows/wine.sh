# Shell functions for running the Windows build under Wine; sourced by
# scripts/test-windows and tests/windows/check_windows.sh.

# A fresh Wine prefix in `folder`, quiet, without the .NET and HTML installers.
new_wine_prefix() { # folder
    export WINEPREFIX=$1/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot -i >/dev/null 2>&1
}

# Starts the display emulator on a pseudo-terminal, `folder`/display, recording each frame
# as JSON in `folder`/display.json, and maps COM `port` of the prefix to it. Sets
# display_pid.
display_on_port() { # emulator, folder, port (COM5)
    local emulator=$1 folder=$2 port=$3
    "$emulator" --pty "$folder/display" --json >"$folder/display.json" 2>/dev/null &
    display_pid=$!
    for _ in $(seq 100); do [ -L "$folder/display" ] && break; sleep 0.1; done
    wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$(readlink "$folder/display")" \
        /f >/dev/null 2>&1
    wineserver -w # Wine makes the port when it starts again
}
