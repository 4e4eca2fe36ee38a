#!/usr/bin/env bash
# The Windows build under Wine: the unit tests, zemtabulo-cli.exe write against v3sim on
# pseudo-terminals mapped as COM1 and COM10 (the bytes on the line compared with the Linux
# build's), a write into a device slow to erase on the real clock (the processor time the
# program used), writes that fail (the line gone mid-data, a device that never answers, a port
# held by another program), zemtabulo-cli.exe export (the files compared with the Linux build's),
# zemtabulo.exe under Xvfb (the main dialog, a screenshot, Port settings, Exit),
# zemtabulo-station.exe (its window built from the template, two slots on COM1 and COM10 written
# at once, the bytes compared with the Linux build's, the log records), both programs refusing
# a Windows older than 10 version 1903, and the shipped zip (its files, the DLLs its programs
# import, a write from the folder it was unpacked into).
#
# Needs: the Windows build (ZT_WIN_BUILD, default build-win64; built here when missing), the
# Release build without test hooks that makes the zip (ZT_WIN_RELEASE_BUILD, default
# build-win64-release; likewise), the Linux build with v3sim and zemtabulo-cli (ZT_BUILD,
# default build), and the Debian packages wine wine64 xvfb xdotool socat fonts-ipafont-gothic
# unzip. The screenshot goes to ZT_SCREENSHOT_DIR (default docs/).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WIN="${ZT_WIN_BUILD:-$ROOT/build-win64}"
REL="${ZT_WIN_RELEASE_BUILD:-$ROOT/build-win64-release}"
LNX="${ZT_BUILD:-$ROOT/build}"
SHOTS="${ZT_SCREENSHOT_DIR:-$ROOT/docs}"
DATA="$ROOT/examples/sample.v3"
WORK="$(mktemp -d /tmp/zt-wine.XXXXXX)"

# shellcheck source=tools/wine-work.sh
source "$ROOT/tools/wine-work.sh"
# Device waits in virtual time, for the tool and for v3sim alike: a 5 s reply wait lasts 1 s,
# room enough for an answer through Wine on a loaded machine (at 1/20, 250 ms were not).
export ZEMTABULO_TIME_SCALE=5

MAIN_TITLE='ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1'
STATION_TITLE='ZemTabulo ステーション'
PORT_TITLE='シリアルポートの設定'
OPTS_A=(--vertical --transfer-settings --startup-check --latin --speed 9600 --response-check)
OPTS_B=(--skip-bitmaps --transfer-settings --keep-sram --rs422 --speed 19200 --flow-control)


# shellcheck source=tools/checks.sh
source "$ROOT/tools/checks.sh"

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
    # Configured every time, so that a build folder from before a new target learns of it.
    cmake -S "$ROOT" -B "$WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release > /dev/null
    cmake --build "$WIN" -j"$(nproc)"
    # The zip as shipped: a Release build in which the clock ignores the test hooks.
    cmake -S "$ROOT" -B "$REL" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DZT_TEST_HOOKS=OFF > /dev/null
    cmake --build "$REL" -j"$(nproc)" --target zemtabulo zemtabulo-station zemtabulo-cli
    (cd "$REL" && cpack)
    cmake --build "$LNX" -j"$(nproc)" --target zemtabulo-cli v3sim
}

# A simulated device for one write job (SIM_JOBS jobs when set), with the faults given; prints
# its pseudo-terminal.
start_sim() {
    local name="$1"
    shift
    "$LNX/bin/v3sim" --jobs "${SIM_JOBS:-1}" --idle 900 --capture "$WORK/$name.cap" "$@" >"$WORK/$name.out" \
        2>"$WORK/$name.err" &
    echo $! >"$WORK/$name.pid"
    first_line "$WORK/$name.out"
}

# A fresh prefix: Japanese faces for the dialog font (and the captions), window frames drawn
# by Wine itself (Xvfb has no window manager), Windows 10, and the COM ports mapped to
# pseudo-terminals.
make_prefix() {
    wineboot -i >/dev/null 2>&1
    local fonts='HKCU\Software\Wine\Fonts\Replacements'
    wine reg add "$fonts" /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic /f >/dev/null
    wine reg add "$fonts" /v Tahoma /t REG_SZ /d IPAPGothic /f >/dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    # A fresh prefix passes for Windows 7, which the programs refuse; Wine's Windows 10 is
    # version 1903, the lowest they accept.
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null
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

# A write job of $DATA; its log ends with its exit status.
wine_write() {
    local name="$1" port="$2"
    shift 2
    local status=0
    timeout 120 wine "$WIN/bin/zemtabulo-cli.exe" write --port "$port" --data "$(winpath "$DATA")" "$@" \
        >"$WORK/$name.log" 2>&1 || status=$?
    echo "exit status $status" >>"$WORK/$name.log"
    [ "$status" -eq 0 ]
}

# Two devices at once: one child job per port, its events read from its pipe.
wine_multi_write() {
    wine_write win-multi COM2 --port COM11 --json "${OPTS_A[@]}" &&
        grep -q '"event":"done","exit":0' "$WORK/win-multi.log" &&
        [ "$(grep -c '"result":"ok"' "$WORK/win-multi.log")" -eq 2 ]
}

same_bytes() { cmp "$1" "$2" && [ -s "$1" ]; }

# A write job expected to fail, of the data file given.
wine_job() { DATA="$3" wine_write "$1" "$2" || true; }
exited_with() { [ "$(tail -n 1 "$WORK/$1.log")" = "exit status $2" ]; }

# The port error stop's line, right after the data phase's status: the caption, then the
# system's own text (not the "Error n" put in when the system has none).
port_error_stop_mid_data() {
    local log="$WORK/$1.log"
    grep -Eq '^\[comm(Putc|Getc)\] [^ ]' "$log" &&
        ! grep -Eq '^\[comm(Putc|Getc)\] Error [0-9]+.?$' "$log" &&
        [ "$(grep -B1 '^\[comm' "$log" | head -n 1 | tr -d '\r')" = 'ﾃﾞｰﾀ書き込み中' ]
}

# The line goes while the data goes out: more data than a pseudo-terminal holds, the device
# hanging up after 10 bytes of it.
test_line_lost() {
    head -c 20000 /dev/zero | tr '\0' x >"$WORK/big.v3"
    wine_job line-lost COM7 "$WORK/big.v3"
    check "line lost mid-data: exit status 1" exited_with line-lost 1
    check "line lost mid-data: the port error stop with the system's text" \
        port_error_stop_mid_data line-lost
}

# No answer to FWE: the 5 s reply wait (1 s at the test's time scale) runs out
# on the input queue's look, which must report a time-out, not a port fault.
test_no_answer() {
    wine_job no-answer COM8 "$DATA"
    check "device silent: exit status 1" exited_with no-answer 1
    check "device silent: the transfer is reported failed" grep -q 'ﾃﾞｰﾀ転送に失敗しました' \
        "$WORK/no-answer.log"
    check "device silent: a time-out, not a port error stop" no_port_error_stop no-answer
}
no_port_error_stop() { ! grep -q '^\[comm' "$WORK/$1.log"; }

# A device whose erase takes 30 s, on the real clock as shipped: the program waits in the driver
# rather than looking at the port every millisecond, so the job costs it little processor time.
# (30 s, so that the start of Wine itself, some 0.15 s of processor time, weighs little.)
test_slow_erase() {
    local t pct
    t="$( { TIMEFORMAT='%U %S %R'; time ZEMTABULO_TIME_SCALE=1 wine_write slow-erase COM4; } 2>&1)" || true
    pct="$(awk -v t="$t" 'BEGIN { split(t, x, " "); printf "%.2f", 100 * (x[1] + x[2]) / x[3] }')"
    check "write on COM4 with a 30 s erase" exited_with slow-erase 0
    check "COM4 stream equals the Linux build's" same_bytes "$WORK/linux-gui.cap" "$WORK/win-slow-erase.cap"
    check "the program used $pct % of a core over that job (at most 1.5 %)" \
        awk "BEGIN { exit !($pct <= 1.5) }"
}

# Another program holds the port open without sharing. Wine does not enforce the share mode on a
# COM port: when it grants the second open too, the refusal cannot be shown here (the unit tests
# cover it through the open hook) and the job is not run.
test_port_held() {
    # Long enough for a refused job; the holder is waited for, as killing the shell that started
    # it would leave it running.
    probe hold COM9 15 >"$WORK/hold.out" 2>&1 &
    local holder=$!
    if [ "$(first_line "$WORK/hold.out" | tr -d "\r")" != held ]; then
        check "a second program holds COM9" false
        return
    fi
    if probe hold COM9 0 >/dev/null 2>&1; then
        echo "SKIP port held by another program: Wine opened COM9 a second time"
    else
        wine_job port-held COM9 "$DATA"
        check "port held: exit status 1" exited_with port-held 1
        check "port held: the status and the hint" grep -q 'held by another program' \
            "$WORK/port-held.log"
        check "port held: nothing reached the device" [ ! -s "$WORK/win-held.cap" ]
    fi
    wait "$holder" || true
}

# Wine told to be Windows 7 for one program: the refusal instead of the program.
as_windows7() {
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /t REG_SZ /d win7 /f >/dev/null
}
as_default_windows() {
    wine reg delete "HKCU\\Software\\Wine\\AppDefaults\\$1" /f >/dev/null 2>&1 || true
}

test_old_windows() {
    as_windows7 zemtabulo-cli.exe
    local status=0
    wine "$WIN/bin/zemtabulo-cli.exe" ports >"$WORK/old-cli.log" 2>"$WORK/old-cli.err" || status=$?
    as_default_windows zemtabulo-cli.exe
    check "Windows 7: zemtabulo-cli.exe exits with status 1" [ "$status" -eq 1 ]
    check "Windows 7: zemtabulo-cli.exe says why, English first, then Japanese" \
        old_windows_text "$WORK/old-cli.err"
    check "Windows 7: zemtabulo-cli.exe does nothing else" [ ! -s "$WORK/old-cli.log" ]

    as_windows7 zemtabulo.exe
    mkdir -p "$WORK/old-gui"
    (cd "$WORK/old-gui" && exec wine "$WIN/bin/zemtabulo.exe") &
    local gui=$! shown=0
    click_refusal && shown=1
    check "Windows 7: zemtabulo.exe shows the refusal" [ "$shown" -eq 1 ]
    [ "$shown" -eq 1 ] || kill "$gui"
    status=0
    wait "$gui" || status=$?
    as_default_windows zemtabulo.exe
    check "Windows 7: zemtabulo.exe exits with status 1 after the box" [ "$status" -eq 1 ]
    check "Windows 7: zemtabulo.exe wrote no SCI.INI" [ ! -e "$WORK/old-gui/SCI.INI" ]
}

click_refusal() {
    local xy
    xy="$(probe box 'This program needs Windows 10' 60)" || return 1
    # shellcheck disable=SC2086
    xdotool mousemove $xy click 1
}

old_windows_text() {
    [ "$(head -n 1 "$1" | tr -d '\r')" = 'This program needs Windows 10 version 1903 or later.' ] &&
        [ "$(sed -n 2p "$1" | tr -d '\r')" = 'このプログラムには Windows 10 バージョン 1903 以降が必要です。' ]
}

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

# The zip an operator gets, as the project version names it.
zip_name() {
    echo "zemtabulo-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$REL/CMakeCache.txt")-win64"
}

# Its one folder holds the three programs, the wave files and README.txt, and nothing else.
zip_lists_exactly() {
    local top
    top="$(zip_name)"
    [ "$(unzip -Z1 "$REL/$top.zip" | grep -vx "$top/" | sort)" = "$(printf '%s\n' zemtabulo.exe \
        zemtabulo-station.exe zemtabulo-cli.exe ringin.wav carib.wav end.wav README.txt |
        sed "s|^|$top/|" | sort)" ]
}

crlf_only() { [ -s "$1" ] && ! grep -q $'[^\r]$\\|^$' "$1"; }

# Only DLLs of every Windows: nothing to ship beside the programs. Prints any other.
only_system_dlls() {
    local dlls
    dlls="$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')"
    [ -n "$dlls" ] && ! grep -viE \
        '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|winmm|bcrypt|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' \
        <<<"$dlls"
}

# Unpacked into an empty folder and run from there, on a device at the real rate: the shipped
# programs ignore the test clock (a build that still honours it gets no scale either).
test_zip() {
    local top dir exe status=0
    top="$(zip_name)"
    dir="$WORK/unzipped/$top"
    check "$top.zip holds the three programs, the wave files and README.txt alone" \
        zip_lists_exactly
    mkdir "$WORK/unzipped"
    unzip -q "$REL/$top.zip" -d "$WORK/unzipped"
    check "README.txt has CR LF line ends" crlf_only "$dir/README.txt"
    for exe in zemtabulo.exe zemtabulo-station.exe zemtabulo-cli.exe; do
        check "$exe imports system DLLs only" only_system_dlls "$dir/$exe"
    done
    check "zemtabulo-station.exe --version into a redirected standard output" \
        station_version "$dir"
    (cd "$dir" && exec env -u ZEMTABULO_TIME_SCALE timeout 120 wine ./zemtabulo-cli.exe write \
        --port COM12 --data "$(winpath "$DATA")") >"$WORK/win-zip.log" 2>&1 || status=$?
    check "write on COM12 from the unpacked zip (exit status $status)" [ "$status" -eq 0 ]
    check "the unpacked zip's write shows the sum" grep -q 'データ sum=' "$WORK/win-zip.log"
    check "COM12 stream equals the Linux build's" same_bytes "$WORK/linux-gui.cap" \
        "$WORK/win-zip.cap"
}

station_version() {
    local line
    line="$(cd "$1" && timeout 60 wine ./zemtabulo-station.exe --version | tr -d '\r')" &&
        grep -q "^zemtabulo-station $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
            "$REL/CMakeCache.txt")" <<<"$line"
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

# The station window: no resource of its id, so its dialog is built from the template data.
# Two slots on COM1 and COM10 with the settings of options A, started together; each device
# gets the Linux build's bytes for those options, after the bytes of its earlier job.
test_station() {
    local dir="$WORK/station"
    mkdir -p "$dir"
    station_ini_a >"$dir/STATION.INI"
    local from1 from10
    from1="$(stat -c %s "$WORK/win-com1.cap" 2>/dev/null || echo 0)"
    from10="$(stat -c %s "$WORK/win-com10.cap" 2>/dev/null || echo 0)"
    (cd "$dir" && exec wine "$WIN/bin/zemtabulo-station.exe") &
    local station=$!
    check "station window opens" probe wait "$STATION_TITLE" 60
    check "station window has both rows, named from STATION.INI" station_rows
    check "Enter (全台開始) starts both slots, 2 records in log.csv" start_all_slots "$dir/log.csv"
    check "both records say ok, on COM1 and COM10, with the same sum" station_records_ok \
        "$dir/log.csv"
    check "both rows show OK and the sum" station_rows_ok
    check "station COM1 stream equals the Linux build's" same_bytes "$WORK/linux-a.cap" \
        <(tail -c +$((from1 + 1)) "$WORK/win-com1.cap")
    check "station COM10 stream equals the Linux build's" same_bytes "$WORK/linux-a.cap" \
        <(tail -c +$((from10 + 1)) "$WORK/win-com10.cap")
    check "STATION.INI rewritten at Start, CR LF" station_ini_rewritten "$dir/STATION.INI"
    check "Exit closes the idle station window" click "$STATION_TITLE" 8
    local status=0
    timeout 30 tail --pid="$station" -f /dev/null || kill "$station"
    wait "$station" || status=$?
    check "Exit ends zemtabulo-station.exe with status 0" [ "$status" -eq 0 ]
}

# Options A as STATION.INI keys.
station_ini_a() {
    printf '%s\r\n' slots=2 slot1.name=ライン1 slot1.port=COM1 slot2.name=ライン2 slot2.port=COM10 \
        "data=$(winpath "$DATA")" vertical=1 transfer-settings=1 startup-check=1 latin=1 \
        line-speed=9600 response-check=1 log=log.csv
}

# (Wine gives no window text for a drop-down list: the ports are checked in the log records.)
station_rows() {
    [ "$(probe text "$STATION_TITLE" 3100 | tr -d '\r')" = ライン1 ] &&
        [ "$(probe text "$STATION_TITLE" 3110 | tr -d '\r')" = ライン2 ]
}

# Enter presses the default button, 全台開始; then the header and a record per slot, within two
# minutes.
start_all_slots() {
    xdotool key Return || return 1
    for _ in $(seq 240); do
        [ -f "$1" ] && [ "$(grep -c . "$1")" -ge 3 ] && return 0
        sleep 0.5
    done
    return 1
}

# The port, the result and the sum of each record, by the header's names (after its BOM).
station_records_ok() {
    local records
    records="$(tr -d '\r' <"$1" | sed '1s/^\xEF\xBB\xBF//' |
        awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
            { print $col["port"], $col["result"], $col["sum"] }' | sort)"
    sed 's/^/     /' <<<"$records"
    local sum
    sum="$(awk 'NR == 1 { print $3 }' <<<"$records")"
    [ -n "$sum" ] && [ "$records" = "$(printf 'COM1 ok %s\nCOM10 ok %s' "$sum" "$sum")" ]
}

station_rows_ok() {
    local r1 r2
    r1="$(probe text "$STATION_TITLE" 3104 | tr -d '\r')"
    r2="$(probe text "$STATION_TITLE" 3114 | tr -d '\r')"
    echo "     result fields: $r1 / $r2"
    [[ "$r1" == "OK "?* ]] && [ "$r1" = "$r2" ]
}

station_ini_rewritten() {
    crlf_only "$1" && grep -q '^slot2.port=COM10'$'\r''$' "$1" && grep -q '^first-sum=0'$'\r''$' "$1"
}

echo "== Build"
build

echo "== Wine prefix and ports"
# The display first: Wine's desktop process, started with the prefix, keeps the one it found.
start_display
socat PTY,raw,echo=0,link="$WORK/ptyA" PTY,raw,echo=0,link="$WORK/ptyB" &
pids+=($!)
for _ in $(seq 100); do [ -e "$WORK/ptyB" ] && break; sleep 0.05; done
# COM1 and COM10 serve a second job each: the station's two slots, after the write on each.
com1="$(SIM_JOBS=2 start_sim win-com1)"
com10="$(SIM_JOBS=2 start_sim win-com10)"
com3="$(start_sim win-gui)"
com7="$(start_sim win-line-lost --hangup-after 10)"
com8="$(start_sim win-no-answer --silent-at fwe)"
com9="$(start_sim win-held)"
com2="$(start_sim win-multi-2)"
com11="$(start_sim win-multi-11)"
# For the shipped zip: the device's clock at the real rate, as the program's.
com12="$(unset ZEMTABULO_TIME_SCALE; start_sim win-zip)"
com4="$(unset ZEMTABULO_TIME_SCALE; start_sim win-slow-erase --erase-ms 30000)"
make_prefix "COM1=$com1" "COM10=$com10" "COM3=$com3" "COM5=$(readlink -f "$WORK/ptyA")" \
    "COM6=$(readlink -f "$WORK/ptyB")" "COM7=$com7" "COM8=$com8" "COM9=$com9" "COM2=$com2" \
    "COM11=$com11" "COM12=$com12" "COM4=$com4"

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
check "write on COM2 and COM11 at once" wine_multi_write
check "COM2 stream equals the Linux build's" same_bytes "$WORK/linux-a.cap" "$WORK/win-multi-2.cap"
check "COM11 stream equals the Linux build's" same_bytes "$WORK/linux-a.cap" "$WORK/win-multi-11.cap"
check "the sum is shown" grep -q 'データ sum=' "$WORK/win-com1.log"
check "export gives the Linux build's files" test_export
test_slow_erase

echo "== The Windows zip"
test_zip

echo "== zemtabulo-cli.exe write that fails"
test_line_lost
test_no_answer
test_port_held

echo "== zemtabulo.exe under Xvfb"
test_gui
test_gui_write

echo "== zemtabulo-station.exe under Xvfb"
test_station

echo "== Windows older than 10 version 1903"
test_old_windows

if [ "$failed" -ne 0 ]; then
    for f in "$WORK"/*.log; do echo "--- $f"; tail -n 30 "$f"; done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
