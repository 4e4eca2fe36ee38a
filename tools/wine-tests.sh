#!/usr/bin/env bash
# The Windows build under Wine: the unit tests, zemtabulo-cli.exe write against v3sim on
# pseudo-terminals mapped as COM1 and COM10 (the bytes on the line compared with the Linux
# build's), zemtabulo-cli.exe export (the files compared with the Linux build's), and
# zemtabulo.exe under Xvfb (the main dialog, a screenshot, Port settings, Exit).
#
# Needs: the Windows build (ZT_WIN_BUILD, default build-win64; built here when missing), the
# Linux build with v3sim and zemtabulo-cli (ZT_BUILD, default build), and the Debian packages
# wine wine64 xvfb xdotool socat fonts-ipafont-gothic. The screenshot goes to
# ZT_SCREENSHOT_DIR (default docs/).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WIN="${ZT_WIN_BUILD:-$ROOT/build-win64}"
LNX="${ZT_BUILD:-$ROOT/build}"
SHOTS="${ZT_SCREENSHOT_DIR:-$ROOT/docs}"
DATA="$ROOT/examples/sample.v3"
WORK="$(mktemp -d /tmp/zt-wine.XXXXXX)"

export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all LC_ALL=C.UTF-8
# No .NET or HTML engine installers in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Device waits in virtual time, for the tool and for v3sim alike.
export ZEMTABULO_TIME_SCALE=20

MAIN_TITLE='ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1'
PORT_TITLE='シリアルポートの設定'
OPTS_A=(--vertical --transfer-settings --startup-check --latin --speed 9600 --response-check)
OPTS_B=(--skip-bitmaps --transfer-settings --keep-sram --rs422 --speed 19200 --flow-control)

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

passed=0
failed=0
check() {
    local name="$1"
    shift
    if "$@"; then
        echo "PASS $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name"
        failed=$((failed + 1))
    fi
}

winpath() { local p="${1//\//\\}"; echo "Z:$p"; }
probe() { wine "$WIN/bin/zt_dialog_probe.exe" "$@"; }
click() {
    local xy
    xy="$(probe center "$1" "$2")" || return 1
    # shellcheck disable=SC2086
    xdotool mousemove $xy click 1
}
# The first line a background program writes, waited for up to 10 s.
first_line() {
    for _ in $(seq 200); do
        [ -s "$1" ] && { head -n 1 "$1"; return 0; }
        sleep 0.05
    done
    return 1
}

build() {
    if [ ! -f "$WIN/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release
    fi
    cmake --build "$WIN" -j"$(nproc)"
    cmake --build "$LNX" -j"$(nproc)" --target zemtabulo-cli v3sim
}

# A simulated device for one write job; prints its pseudo-terminal.
start_sim() {
    local name="$1"
    "$LNX/bin/v3sim" --jobs 1 --idle 300 --capture "$WORK/$name.cap" >"$WORK/$name.out" \
        2>"$WORK/$name.err" &
    pids+=($!)
    first_line "$WORK/$name.out"
}

# A fresh prefix: Japanese faces for the dialog font (and the captions), window frames drawn
# by Wine itself (Xvfb has no window manager), and the COM ports mapped to pseudo-terminals.
make_prefix() {
    wineboot -i >/dev/null 2>&1
    local fonts='HKCU\Software\Wine\Fonts\Replacements'
    wine reg add "$fonts" /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic /f >/dev/null
    wine reg add "$fonts" /v Tahoma /t REG_SZ /d IPAPGothic /f >/dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    local port
    for port in "$@"; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /t REG_SZ /d "${port#*=}" /f \
            >/dev/null
    done
    # The port mapping is read when Wine starts afresh. From then on one server serves every
    # program of the run, its messages kept for the report.
    wineserver -w
    wineserver -f -p 2>"$WORK/wineserver.log" &
    pids+=($!)
}

linux_write() {
    local name="$1"
    shift
    local pts
    pts="$(start_sim "$name")"
    "$LNX/bin/zemtabulo-cli" write --port "$pts" --data "$DATA" "$@" >"$WORK/$name.log" 2>&1
}

wine_write() {
    local name="$1" port="$2"
    shift 2
    local status=0
    wine "$WIN/bin/zemtabulo-cli.exe" write --port "$port" --data "$(winpath "$DATA")" "$@" \
        >"$WORK/$name.log" 2>&1 || status=$?
    echo "exit status $status" >>"$WORK/$name.log"
    [ "$status" -eq 0 ]
}

same_bytes() { cmp "$1" "$2" && [ -s "$1" ]; }

test_export() {
    local gaiji="$WORK/gaiji.txt"
    printf 'G1\r\n\x1a\x00\xff\n' >"$gaiji"
    local opts=(--gaiji "$gaiji" --transfer-gaiji --vertical --invert --transfer-settings --latin
                --speed 4800)
    mkdir -p "$WORK/exp-linux" "$WORK/exp-win"
    "$LNX/bin/zemtabulo-cli" export --data "$DATA" --to "$WORK/exp-linux" "${opts[@]}" >/dev/null
    opts[1]="$(winpath "$gaiji")"
    wine "$WIN/bin/zemtabulo-cli.exe" export --data "$(winpath "$DATA")" \
        --to "$(winpath "$WORK/exp-win")\\" "${opts[@]}" >"$WORK/export.log"
    same_bytes "$WORK/exp-linux/v3update.dat" "$WORK/exp-win/v3update.dat" &&
        same_bytes "$WORK/exp-linux/v3gaiji.dat" "$WORK/exp-win/v3gaiji.dat"
}

start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
    pids+=($!)
    export DISPLAY=":$(first_line "$WORK/display")"
}

# SCI.INI holds exactly the bytes given.
ini_is() { [ "$(od -An -c "$WORK/gui/SCI.INI" | tr -s ' ')" = "$(printf '%s' "$1" | od -An -c | tr -s ' ')" ]; }

port_settings_ok() {
    click "$MAIN_TITLE" 1038 && probe wait "$PORT_TITLE" 20 || return 1
    # COM1 is preselected as "COM1 "; from OK two tabs reach the list, whose next entry
    # down is "COM2 ". The pointer stays off the list.
    xdotool mousemove 0 0 && sleep 0.3 && xdotool key Tab Tab Down && sleep 0.3 &&
        click "$PORT_TITLE" 1 && probe gone "$PORT_TITLE" 20 && ini_is $'COM2 \r\n'
}

test_gui() {
    mkdir -p "$WORK/gui" "$SHOTS"
    (cd "$WORK/gui" && exec wine "$WIN/bin/zemtabulo.exe") &
    local gui=$!
    check "main dialog opens" probe wait "$MAIN_TITLE" 60
    check "main dialog has the title and controls of template 129" probe check-main
    check "screenshot" probe shot "$MAIN_TITLE" "$(winpath "$SHOTS/main-dialog-win32.png")"
    check "first start writes SCI.INI with COM1 and CR LF" ini_is $'COM1\r\n'
    check "Port settings OK rewrites SCI.INI with CR LF" port_settings_ok
    check "Exit closes the main dialog" click "$MAIN_TITLE" 8
    local status=0
    wait "$gui" || status=$?
    check "Exit ends the program with status 0" [ "$status" -eq 0 ]
}

# A write job from the desktop program: data file chosen in the open-file dialog, Start, the
# sum box from the worker, the end box from the watcher, Start enabled again; the bytes on
# the line equal the Linux build's for the same (default) options.
test_gui_write() {
    mkdir -p "$WORK/gui-write"
    printf 'COM3\r\n' >"$WORK/gui-write/SCI.INI"
    (cd "$WORK/gui-write" && exec wine "$WIN/bin/zemtabulo.exe") &
    local gui=$!
    check "main dialog opens with SCI.INI naming COM3" probe wait "$MAIN_TITLE" 60
    check "data file chosen in the open-file dialog" choose_data_file
    check "Start runs a job to the sum box" start_job
    check "the end box follows and Start comes back" end_job
    check "GUI stream equals the Linux build's" same_bytes "$WORK/linux-gui.cap" "$WORK/win-gui.cap"
    click "$MAIN_TITLE" 8 || true
    local status=0
    wait "$gui" || status=$?
    check "Exit after the job ends the program with status 0" [ "$status" -eq 0 ]
}

choose_data_file() {
    click "$MAIN_TITLE" 1039 && probe wait '画面データの指定' 20 || return 1
    # The chooser opens with the keyboard in its file name box.
    sleep 0.5
    xdotool type --delay 20 "$(winpath "$DATA")" && xdotool key Return &&
        probe gone '画面データの指定' 20 &&
        [ "$(probe text "$MAIN_TITLE" 1050 | tr -d "\r")" = "$(winpath "$DATA")" ]
}

start_job() {
    local xy
    click "$MAIN_TITLE" 1003 && xy="$(probe box 'データ sum=' 120)" || return 1
    # shellcheck disable=SC2086
    xdotool mousemove $xy click 1
}

end_job() {
    local xy
    xy="$(probe box '書込みが終了しました' 60)" || return 1
    # shellcheck disable=SC2086
    xdotool mousemove $xy click 1 && probe enabled "$MAIN_TITLE" 1003 20
}

echo "== Build"
build

echo "== Wine prefix and ports"
# The display first: Wine's desktop process, started with the prefix, keeps the one it found.
start_display
socat PTY,raw,echo=0,link="$WORK/ptyA" PTY,raw,echo=0,link="$WORK/ptyB" &
pids+=($!)
for _ in $(seq 100); do [ -e "$WORK/ptyB" ] && break; sleep 0.05; done
com1="$(start_sim win-com1)"
com10="$(start_sim win-com10)"
com3="$(start_sim win-gui)"
make_prefix "COM1=$com1" "COM10=$com10" "COM3=$com3" "COM5=$(readlink -f "$WORK/ptyA")" \
    "COM6=$(readlink -f "$WORK/ptyB")"

echo "== Unit tests"
status=0
ZT_TEST_COM=COM5 ZT_TEST_PEER_COM=COM6 timeout 300 wine "$WIN/bin/zt_tests.exe" || status=$?
check "zt_tests.exe (exit status $status)" [ "$status" -eq 0 ]
status=0
(cd "$WORK" && timeout 300 wine "$WIN/bin/zt_win32_ui_tests.exe") || status=$?
check "zt_win32_ui_tests.exe on the display (exit status $status)" [ "$status" -eq 0 ]

echo "== zemtabulo-cli.exe write and export"
check "Linux write, options A" linux_write linux-a "${OPTS_A[@]}"
check "Linux write, options B" linux_write linux-b "${OPTS_B[@]}"
check "Linux write, no options" linux_write linux-gui
check "write on COM1" wine_write win-com1 COM1 "${OPTS_A[@]}"
check "write on COM10" wine_write win-com10 COM10 "${OPTS_B[@]}"
check "COM1 stream equals the Linux build's" same_bytes "$WORK/linux-a.cap" "$WORK/win-com1.cap"
check "COM10 stream equals the Linux build's" same_bytes "$WORK/linux-b.cap" "$WORK/win-com10.cap"
check "the sum is shown" grep -q 'データ sum=' "$WORK/win-com1.log"
check "export gives the Linux build's files" test_export

echo "== zemtabulo.exe under Xvfb"
test_gui
test_gui_write

if [ "$failed" -ne 0 ]; then
    for f in "$WORK"/*.log; do echo "--- $f"; tail -n 30 "$f"; done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
