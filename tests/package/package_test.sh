#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a built tree with scripts/package, checks
# what it holds and what it depends on, unpacks it and runs the programs
# from there, and validates its desktop entry, metainfo and manual pages.
#
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION [sanitized]
set -euo pipefail
source_dir=$1
build_dir=$2
version=$3
sanitized=${4:-}

work=$(mktemp -d)
lumora_pid=
cleanup() {
    [ -n "$lumora_pid" ] && kill -KILL "$lumora_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

"$source_dir/scripts/package" --build "$build_dir" --output "$work/out" >/dev/null
deb=$(ls "$work"/out/lumora_"$version"_*.deb)

# Lumora's library has a folder of its own below the multiarch one.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# What Debian's checker says of it: no error, no warning.
command -v lintian >/dev/null || fail "lintian is missing: install it (scripts/packages.txt)"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(grep -v 'root privileges' "$work/lintian.log")"

# What is in it.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/lumora /usr/bin/lumora-display /usr/lib/$multiarch/lumora/libVbVis10.so \
    /usr/share/applications/lumora.desktop /usr/share/icons/hicolor/scalable/apps/lumora.svg \
    /usr/share/metainfo/io.github.lumora.lumora.metainfo.xml \
    /usr/share/man/man1/lumora.1.gz /usr/share/man/man1/lumora-display.1.gz \
    /usr/share/doc/lumora/copyright /usr/share/doc/lumora/changelog.gz; do
    grep -qx "$path" "$work/contents" || fail "the package lacks $path"
done
# A build that made the display's firmware packages its image.
firmware=
if [ -f "$build_dir/firmware/lumora-display-firmware.hex" ]; then
    firmware=/usr/share/lumora/firmware/lumora-display-firmware.hex
    grep -qx "$firmware" "$work/contents" || fail "the package lacks $firmware"
fi
if grep -v -E "^/usr/(bin|lib/$multiarch/lumora|share)/" "$work/contents" | grep -v -E "^/usr/(lib/?|lib/$multiarch/?|share/?)?\$" | grep -q .; then
    fail "the package installs outside /usr/bin, /usr/lib/$multiarch/lumora and /usr/share:"
    grep -v -E "^/usr/(bin|lib/$multiarch/lumora|share)/" "$work/contents" >&2
fi

# Its fields: the libraries found by dpkg-shlibdeps and the Qt platform plugins.
[ "$(dpkg-deb -f "$deb" Package)" = lumora ] || fail "Package is not lumora"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6serialport6 libpulse0 libfftw3-double3 libsndfile1 qt6-qpa-plugins; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done

# Unpacked, the programs find their library through RUNPATH alone.
dpkg-deb -x "$deb" "$work/root"
bin=$work/root/usr/bin
if [ -n "$firmware" ] && ! cmp -s "$work/root$firmware" "$build_dir/firmware/lumora-display-firmware.hex"; then
    fail "the packaged firmware image is not the one built"
fi
run() { env -u LD_LIBRARY_PATH -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" "$@"; }
[ "$(run "$bin/lumora" --version)" = "lumora $version" ] || fail "lumora --version"
[ "$(run "$bin/lumora-display" --version)" = "lumora-display $version" ] || fail "lumora-display --version"
run "$bin/lumora-display" --help | grep -q '^Usage: lumora-display' || fail "lumora-display --help"
run "$bin/lumora" --help | grep -q '^Usage: lumora' || fail "lumora --help"

# The installed Lumora starts: it loads its libVbVis10.so, attaches the demo
# source and shows its window until SIGTERM closes it. AddressSanitizer's
# dlopen() wrapper hides the program's RUNPATH from the loader, so a
# sanitized build is shown its library folder.
library_path=
[ -n "$sanitized" ] && library_path=$work/root/usr/lib/$multiarch/lumora
env -u DISPLAY -u WAYLAND_DISPLAY LD_LIBRARY_PATH="$library_path" XDG_CONFIG_HOME="$work/config" \
    QT_QPA_PLATFORM=offscreen "$bin/lumora" --source demo >"$work/lumora.log" 2>&1 &
lumora_pid=$!
# Ready once it catches SIGTERM (its window is up): bit 15 of SigCgt.
catches_term() {
    local caught
    caught=$(awk '/^SigCgt:/ { print $2 }' "/proc/$lumora_pid/status" 2>/dev/null) || return 1
    [ -n "$caught" ] && (( 0x$caught & 0x4000 ))
}
for _ in $(seq 300); do catches_term && break; kill -0 "$lumora_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$lumora_pid" 2>/dev/null && catches_term; then
    kill -TERM "$lumora_pid"
    status=0
    wait "$lumora_pid" || status=$?
    lumora_pid=
    [ "$status" -eq 0 ] || fail "lumora ended with status $status after SIGTERM: $(cat "$work/lumora.log")"
elif kill -0 "$lumora_pid" 2>/dev/null; then
    fail "the unpacked lumora did not get ready in 30 s: $(cat "$work/lumora.log")"
else
    status=0
    wait "$lumora_pid" || status=$?
    lumora_pid=
    fail "the unpacked lumora ended at start-up with status $status: $(cat "$work/lumora.log")"
fi

# The desktop entry, the icon it names, the metainfo and the manual pages.
share=$work/root/usr/share
desktop-file-validate "$share/applications/lumora.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=lumora' "$share/applications/lumora.desktop" || fail "Exec is not lumora"
icon=$(sed -n 's/^Icon=//p' "$share/applications/lumora.desktop")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon named $icon"
metainfo=$share/metainfo/io.github.lumora.lumora.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 || fail "appstreamcli: $(cat "$work/appstream.log")"
grep -q '<launchable type="desktop-id">lumora.desktop</launchable>' "$metainfo" || fail "metainfo launches another entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo lacks release $version"
for page in lumora lumora-display; do
    warnings=$(zcat "$share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
done

[ "$failures" -eq 0 ] && echo "package $deb: all checks passed"
exit $((failures > 0))
