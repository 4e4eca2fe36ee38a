#!/usr/bin/env bash
# The Debian package as an operator gets it: the release configuration built into
# build-release (ZT_RELEASE_BUILD), the .deb from CPack, its file list and control fields, the
# hardening of its programs, then the package unpacked into a temporary root (not installed):
# zemtabulo-cli and v3sim run from there in an empty folder for a full write at real speed, the
# desktop program and the station window start under Xvfb (the former with its sounds where it
# looks for them), and the desktop entries, the AppStream file, the manual pages and lintian
# are checked.
#
# Needs the packages of zt_install_package_packages in tools/setup.sh.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${ZT_RELEASE_BUILD:-$ROOT/build-release}"
WORK="$(mktemp -d /tmp/zt-package.XXXXXX)"
export LC_ALL=C.UTF-8

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# shellcheck source=tools/checks.sh
source "$ROOT/tools/checks.sh"

# --- Build --------------------------------------------------------------------------------
# The shipped configuration: optimised and hardened, without the test clock hooks; the tests
# themselves are not built.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZT_TEST_HOOKS=OFF -DZT_GUI=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target zt_installed
rm -f "$BUILD"/zemtabulo_*.deb
(cd "$BUILD" && cpack -G DEB >"$WORK/cpack.log") || { cat "$WORK/cpack.log"; exit 1; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")"
deb="$BUILD/zemtabulo_${version}_amd64.deb"
check "package file $(basename "$deb")" test -f "$deb"
[ -f "$deb" ] || { echo "0 passed, 1 failed"; exit 1; }

# A build with the test hooks is for tests only: cpack refuses it before packing anything.
refuses_test_hooks() {
    cmake -S "$ROOT" -B "$WORK/hooks" -DZT_TEST_HOOKS=ON -DZT_GUI=OFF >/dev/null || return 1
    ! (cd "$WORK/hooks" && cpack -G DEB >"$WORK/hooks.log" 2>&1) &&
        grep -q 'honours the test hooks' "$WORK/hooks.log" && ! ls "$WORK"/hooks/*.deb 2>/dev/null
}
check "cpack refuses a build configured with ZT_TEST_HOOKS=ON" refuses_test_hooks

# --- The package --------------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $1, $NF}' >"$WORK/list"
has_file() { grep -qx -- "-[rwx-]* \./usr/$1" "$WORK/list"; }
PROGRAMS=(zemtabulo zemtabulo-station zemtabulo-cli v3sim zemtabulo-line)
DESKTOP_IDS=(org.zemtabulo.ZemTabulo org.zemtabulo.ZemTabulo.Station)
for p in "${PROGRAMS[@]}"; do
    check "package holds /usr/bin/$p" has_file "bin/$p"
    check "package holds /usr/share/man/man1/$p.1.gz" has_file "share/man/man1/$p.1.gz"
done
for d in "${DESKTOP_IDS[@]}"; do
    check "package holds the desktop entry $d" has_file "share/applications/$d.desktop"
done
for f in share/metainfo/org.zemtabulo.ZemTabulo.metainfo.xml \
         share/icons/hicolor/64x64/apps/zemtabulo.png \
         share/zemtabulo/ringin.wav share/zemtabulo/carib.wav share/zemtabulo/end.wav \
         share/zemtabulo/zemtabulo.png share/zemtabulo/logo137.bmp \
         share/doc/zemtabulo/copyright share/doc/zemtabulo/changelog.gz \
         share/doc/zemtabulo/README.md share/doc/zemtabulo/examples/sample.v3 \
         share/zemtabulo/web/index.html share/zemtabulo/web/dashboard.js \
         share/zemtabulo/web/dashboard.css; do
    check "package holds /usr/$f" has_file "$f"
done
has_root_file() { grep -qx -- "-rw-r--r-- \./$1" "$WORK/list"; }
check "package holds the unit /lib/systemd/system/zemtabulo-line.service" \
    has_root_file lib/systemd/system/zemtabulo-line.service
check "package holds /etc/zemtabulo/line.env" has_root_file etc/zemtabulo/line.env
conffile() { dpkg-deb -I "$deb" conffiles | grep -qx /etc/zemtabulo/line.env; }
check "/etc/zemtabulo/line.env is a conffile" conffile
# Enabled would start a server without a database set up: no wants link, no maintainer script.
unit_disabled() {
    ! grep -q 'etc/systemd' "$WORK/list" && ! dpkg-deb -I "$deb" postinst >/dev/null 2>&1
}
check "zemtabulo-line.service is not enabled by the package" unit_disabled
programs_executable() {
    [ "$(grep -c '^-rwxr-xr-x \./usr/bin/' "$WORK/list")" -eq "${#PROGRAMS[@]}" ]
}
check "programs are 0755" programs_executable
data_not_executable() { ! grep -v '^d\|\./usr/bin/' "$WORK/list" | grep '^-..x'; }
check "data files are not executable" data_not_executable

dpkg-deb -f "$deb" >"$WORK/control"
field_has() { grep -q "^$1: .*$2" "$WORK/control"; }
check "Section: electronics" field_has Section 'electronics$'
check "Depends: the Japanese font" field_has Depends fonts-ipafont-gothic
check "Depends: the sound theme" field_has Depends sound-theme-freedesktop
check "Depends: Qt's Japanese texts" field_has Depends qt6-translations-l10n
check "Depends: Chart.js for the dashboard" field_has Depends libjs-chart.js
check "Depends: libpq, from the shared libraries" field_has Depends libpq5
check "Depends: from the shared libraries (Qt)" field_has Depends libqt6widgets6
check "Maintainer" field_has Maintainer '<dev@zemtabulo.invalid>'

ROOTFS="$WORK/root"
dpkg-deb -x "$deb" "$ROOTFS"
BIN="$ROOTFS/usr/bin"

# (Outputs are taken whole before grep -q: under pipefail its early exit would fail the pipe.)
hardened() {
    local exe="$1" dyn seg sec sym
    dyn="$(readelf -d "$exe")" seg="$(readelf -lW "$exe")" sec="$(readelf -SW "$exe")"
    sym="$(nm -D "$exe")"
    grep -q 'FLAGS_1.*NOW PIE' <<<"$dyn" && ! grep -q 'RPATH\|RUNPATH' <<<"$dyn" &&
        grep -q GNU_RELRO <<<"$seg" && ! grep -q '\.debug_info\|\.symtab' <<<"$sec" &&
        grep -q '__stack_chk_fail' <<<"$sym" && grep -q '__[a-z_]*_chk@' <<<"$sym"
}
for p in "${PROGRAMS[@]}"; do
    check "$p: PIE, full RELRO, no rpath, stripped, stack protector, fortified" hardened "$BIN/$p"
done

# --- The unpacked programs, from an empty folder -------------------------------------------
mkdir "$WORK/empty"
cd "$WORK/empty"
help="$("$BIN/zemtabulo-cli" --help 2>&1 || true)"
if grep -q -- '--version' <<<"$help"; then
    version_line() {
        local line
        line="$("$BIN/zemtabulo-cli" --version)" && grep -q "^zemtabulo-cli $version" <<<"$line"
    }
    check "zemtabulo-cli --version" version_line
    # No display here: the version line comes before the station program needs one.
    station_version_line() {
        local line
        line="$(env -u DISPLAY -u WAYLAND_DISPLAY "$BIN/zemtabulo-station" --version)" &&
            grep -q "^zemtabulo-station $version" <<<"$line"
    }
    check "zemtabulo-station --version, without a display" station_version_line
    line_version_line() {
        local line
        line="$("$BIN/zemtabulo-line" --version)" && grep -q "^zemtabulo-line $version" <<<"$line"
    }
    check "zemtabulo-line --version" line_version_line
else
    echo "NOTE zemtabulo-cli has no --version in this build: ran --help instead"
    help_runs() { "$BIN/zemtabulo-cli" --help >/dev/null; }
    check "zemtabulo-cli --help" help_runs
fi

cp "$ROOTFS/usr/share/doc/zemtabulo/examples/sample.v3" .
# The test builds' clock settings are in the environment of both: shipped programs ignore them,
# so the write still takes its real pauses (5 s) and no reply wait is cut short.
export ZEMTABULO_TIME_SCALE=1000 ZEMTABULO_TICK_OFFSET=4294960000
"$BIN/v3sim" --jobs 1 --idle 120 >"$WORK/sim.out" 2>"$WORK/sim.err" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$WORK/sim.out" ] && break
    sleep 0.05
done
port="$(head -n 1 "$WORK/sim.out")"
full_write() {
    local start=$SECONDS rc=0
    "$BIN/zemtabulo-cli" write --port "$port" --data sample.v3 --log "$WORK/write.csv" \
        >"$WORK/write.out" 2>&1 || rc=$?
    echo "     write: exit $rc in $((SECONDS - start)) s, $(grep -c . "$WORK/write.out") lines"
    [ "$rc" -eq 0 ] && [ $((SECONDS - start)) -ge 4 ]
}
check "full write against the unpacked v3sim, the test clock settings ignored" full_write
# The HTTP client is a module the programs load from ../lib/zemtabulo/modules: sending to a closed port
# must fail for the port, not for a module the package left out.
http_module_loads() {
    local out
    echo token >"$WORK/token"
    out="$("$BIN/zemtabulo-cli" send --log "$WORK/write.csv" --line http://127.0.0.1:9 \
        --line-token-file "$WORK/token" 2>&1 || true)"
    echo "     send: $out"
    grep -q "records wait for the line server" <<<"$out" && ! grep -q "cannot be loaded" <<<"$out"
}
check "zemtabulo-cli send loads the installed HTTP module" http_module_loads
only_sample_left() { [ "$(ls -A)" = "sample.v3" ]; }
check "write leaves nothing in the working directory" only_sample_left

# The desktop program: nothing beside it or in the working folder, so its sounds can only come
# from ../share/zemtabulo (the lookup order itself is covered by gui_sound_lookup_test).
sounds_installed() {
    for w in ringin carib end; do
        [ ! -e "$BIN/$w.wav" ] && [ ! -e "$w.wav" ] &&
            cmp -s "$BIN/../share/zemtabulo/$w.wav" "$ROOT/platform/qt/resources/$w.wav" || return 1
    done
}
check "sounds only in share/zemtabulo beside bin" sounds_installed
gui_starts() {
    mkdir -p "$WORK/gui" && cd "$WORK/gui"
    xvfb-run -a sh -c '"$1" & pid=$!; sleep 3; kill -0 $pid && test -f SCI.INI; rc=$?;
                       kill $pid; exit $rc' sh "$BIN/zemtabulo" >"$WORK/gui.log" 2>&1
    local rc=$?
    cd "$WORK/empty"
    return $rc
}
check "zemtabulo starts under Xvfb (main dialog up, SCI.INI written)" gui_starts

# The station window from a folder holding only its STATION.INI: the window (not a box about
# the file) comes up and stays, and nothing but Qt's note on XDG_RUNTIME_DIR is printed.
station_starts() {
    mkdir -p "$WORK/station" && cd "$WORK/station"
    printf '%s\r\n' slots=2 slot1.port=COM1 slot2.port=COM2 >STATION.INI
    xvfb-run -a sh -c '"$1" & pid=$!; sleep 3; kill -0 $pid &&
                       xdotool search --onlyvisible --name "^ZemTabulo ステーション\$" >/dev/null;
                       rc=$?; kill $pid; exit $rc' sh "$BIN/zemtabulo-station" \
        >"$WORK/station.log" 2>&1
    local rc=$?
    cd "$WORK/empty"
    grep -v "^QStandardPaths: XDG_RUNTIME_DIR not set" "$WORK/station.log" &&
        { echo "     (output above)"; rc=1; }
    return $rc
}
check "zemtabulo-station starts under Xvfb with 2 slots, its window up, no error output" \
    station_starts

# --- Desktop entry, AppStream, manual pages, lintian ----------------------------------------
# Each entry valid, and starting a program of the package.
exec_in_package() { [ -x "$BIN/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$1")" ]; }
for d in "${DESKTOP_IDS[@]}"; do
    check "desktop-file-validate $d.desktop" desktop-file-validate \
        "$ROOTFS/usr/share/applications/$d.desktop"
    check "$d.desktop: Exec is a program of the package" exec_in_package \
        "$ROOTFS/usr/share/applications/$d.desktop"
done
check "appstreamcli validate" appstreamcli validate --no-net \
    "$ROOTFS/usr/share/metainfo/org.zemtabulo.ZemTabulo.metainfo.xml"
man_clean() {
    local warnings
    warnings="$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
}
for page in "${PROGRAMS[@]}"; do
    check "man $page(1) renders without warnings" man_clean "$ROOTFS/usr/share/man/man1/$page.1.gz"
done
lintian_clean() {
    lintian --fail-on error,warning "$deb" >"$WORK/lintian.out" 2>&1
    local rc=$?
    sed 's/^/     /' "$WORK/lintian.out"
    return $rc
}
check "lintian: no errors, no warnings" lintian_clean

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
