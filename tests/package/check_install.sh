#!/usr/bin/env bash
# The install rules and the Debian package, as a user meets them:
#   check_install.sh BUILD_DIR
# 1. `cmake --install BUILD_DIR --prefix P` gives the program folder, the bin link, the
#    launcher entry and the icon, and the installed program answers on its command line.
# 2. scripts/package builds a .deb that lintian passes without errors or warnings;
#    installed into a scratch root it has the files, the link to /etc, the settings' group
#    and modes, and systemd services that systemd-analyze verifies.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

# The settings file beside the build is the developer's once it is there.
printf '[Settings]\nCommPort=/tmp/edited\n' >"$build/orvtide.ini.edited"
cp "$build/orvtide.ini" "$scratch/orvtide.ini.saved"
cp "$build/orvtide.ini.edited" "$build/orvtide.ini"
"$root/scripts/build" "$build" >/dev/null
check "a build keeps an edited settings file beside the program" \
    cmp -s "$build/orvtide.ini" "$build/orvtide.ini.edited"
cp "$scratch/orvtide.ini.saved" "$build/orvtide.ini"
rm -f "$build/orvtide.ini.edited"

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
check "program folder holds both programs" test -x "$prefix/lib/orvantide/orvantide" -a -x "$prefix/lib/orvantide/orvantide-service"
check "settings file beside it" grep -q '^Interval=60' "$prefix/lib/orvantide/orvtide.ini"
check "bin link to the executable" test "$(readlink "$prefix/bin/orvantide")" = ../lib/orvantide/orvantide
check "launcher entry is valid" desktop-file-validate "$prefix/share/applications/orvantide.desktop"
check "scalable icon" grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/orvantide.svg"
check "--version through the link" sh -c "'$prefix/bin/orvantide' --version | grep -qx 'orvantide [0-9.]*'"
check "--help exits 0" sh -c "'$prefix/bin/orvantide' --help | grep -q -- --version"
check "-systray is not an error" sh -c "'$prefix/bin/orvantide' -systray --version >/dev/null"
set +e
"$prefix/bin/orvantide" --frobnicate >/dev/null 2>"$scratch/err"
status=$?
set -e
check "unknown option: exit status 2" test "$status" = 2
check "unknown option: one line of usage" test "$(wc -l <"$scratch/err")" = 1

mapfile -t debs < <(ORVANTIDE_DEB_BUILD="$build-deb" "$root/scripts/package" --lintian 2>"$scratch/lintian")
cat "$scratch/lintian" >&2
service_deb=${debs[0]}
desktop_deb=${debs[1]}
check "packages built" test -f "$service_deb" -a -f "$desktop_deb"
check "hardened and stripped as Debian builds: lintian sees no missing flag or extra section" \
    sh -c "! grep -E 'hardening-no-|binary-has-unneeded-section' '$scratch/lintian'"
check "the service depends on Qt Core and the serial port only, no desktop" \
    sh -c "dpkg-deb -f '$service_deb' Depends | grep -q libqt6serialport6 &&
           ! dpkg-deb -f '$service_deb' Depends | grep -qiE 'gui|widgets|x11|xcb|libgl'"
check "the windowed program depends on the service of its version" \
    sh -c "dpkg-deb -f '$desktop_deb' Depends | grep -q 'orvantide-service (= '"

# Installed into a scratch root; maintainer scripts run without a chroot.
target=$scratch/root
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
touch "$target/var/lib/dpkg/status"
dpkg --root="$target" --force-script-chrootless --force-depends --force-not-root \
    --log=/dev/null -i "$service_deb" "$desktop_deb" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log"; exit 1; }
check "executables in /usr/lib/orvantide" \
    test -x "$target/usr/lib/orvantide/orvantide" -a -x "$target/usr/lib/orvantide/orvantide-service"
check "settings link to /etc" test "$(readlink "$target/usr/lib/orvantide/orvtide.ini")" = /etc/orvantide/orvtide.ini
check "/usr/bin link" test "$(readlink "$target/usr/bin/orvantide")" = ../lib/orvantide/orvantide
check "launcher entry" test -f "$target/usr/share/applications/orvantide.desktop"
check "icon" test -f "$target/usr/share/icons/hicolor/scalable/apps/orvantide.svg"
check "manual page, with the settings file's keys" \
    sh -c "zcat '$target/usr/share/man/man1/orvantide.1.gz' | grep -q WarnUnsynchronised"
check "the README among the documentation" test -f "$target/usr/share/doc/orvantide-service/README.md.gz"
check "settings folder: group dialout, setgid, group-writable" \
    test "$(stat -c '%G %a' "$target/etc/orvantide")" = "dialout 2775"
check "settings file: group dialout, group-writable" \
    test "$(stat -c '%G %a' "$target/etc/orvantide/orvtide.ini")" = "dialout 664"
check "boot-time service" test -f "$target/lib/systemd/system/orvantide.service"
check "one service per display" test -f "$target/lib/systemd/system/orvantide@.service"
check "one service for a folder of displays" \
    test -f "$target/lib/systemd/system/orvantide-displays.service"
check "displays folder: group dialout, setgid, group-writable" \
    test "$(stat -c '%G %a' "$target/etc/orvantide/displays")" = "dialout 2775"
check "services disabled" test ! -e "$target/etc/systemd/system/multi-user.target.wants"
if command -v systemd-analyze >/dev/null; then
    # Verified with the service the package installs, at its place in the scratch root;
    # any complaint fails, as systemd-analyze ends with status 0 on some.
    units=$scratch/units
    mkdir -p "$units"
    for unit in orvantide.service orvantide@.service orvantide-displays.service; do
        sed "s|/usr/lib/orvantide/orvantide-service|$target/usr/lib/orvantide/orvantide-service|" \
            "$target/lib/systemd/system/$unit" >"$units/$unit"
    done
    cp "$units/orvantide@.service" "$units/orvantide@hall.service"
    verify_services() {
        local said
        said=$(systemd-analyze verify --man=no "$units/orvantide.service" \
            "$units/orvantide@hall.service" "$units/orvantide-displays.service" 2>&1) && [ -z "$said" ] || { echo "$said"; return 1; }
    }
    check "systemd-analyze verify passes on the services" verify_services
    # Real-time priority granted without a wider exposure than the hardening gives.
    check "systemd-analyze security: exposure 3.4 or less" \
        sh -c "systemd-analyze security --offline=true --threshold=34 \
               '$units/orvantide.service' '$units/orvantide@hall.service' \
               '$units/orvantide-displays.service' >/dev/null"
fi
check "settings file is a configuration file" grep -qx /etc/orvantide/orvtide.ini \
    "$target/var/lib/dpkg/info/orvantide-service.conffiles"

# An administrator enables the service and an instance, then purges the package: no
# enable link, mask or state of the helper is left behind.
systemctl --root="$target" enable orvantide.service orvantide@hall.service \
    orvantide-displays.service >/dev/null 2>&1
echo "[Settings]" >"$target/etc/orvantide/displays/hall.ini"
check "services enabled (offline)" \
    test -L "$target/etc/systemd/system/multi-user.target.wants/orvantide@hall.service"
dpkg --root="$target" --force-script-chrootless --force-depends --force-not-root \
    --log=/dev/null --purge orvantide orvantide-service >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
left=$(find "$target/etc/systemd" "$target/var/lib/systemd" -name '*orvantide*' 2>/dev/null || true)
check "purge leaves no enable link, mask or helper state" test -z "$left"
[ -z "$left" ] || echo "$left"
check "purge removes the settings" test ! -e "$target/etc/orvantide/orvtide.ini"
check "purge removes the displays' settings" test ! -e "$target/etc/orvantide/displays"

echo "$failures failed"
[ "$failures" -eq 0 ]
