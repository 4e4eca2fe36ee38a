# Shared by the areas of tools/wine-tests.sh (tools/wine/AREA.sh): the builds, the display, the
# simulated devices behind the COM ports, the Wine prefix, the Linux build's reference captures,
# and the helpers that drive the programs and count the checks. Sourced by tools/wine-tests.sh
# alone, which picks the areas.
#
# Needs: the Windows build (ZT_WIN_BUILD, default build-win64; built here), the Release build
# without test hooks that makes the zip (ZT_WIN_RELEASE_BUILD, default build-win64-release; built
# when the zip area runs), the Linux build with v3sim, zemtabulo-cli, zemtabulo-line and
# control_ids.sh (ZT_BUILD, default build; those targets built here), and the Debian packages wine
# wine64 xvfb xdotool socat fonts-ipafont-gothic unzip (and postgresql-15, which ./test installs,
# for the line area). The screenshot goes to ZT_SCREENSHOT_DIR (default
# docs/).

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WIN="${ZT_WIN_BUILD:-$ROOT/build-win64}"
REL="${ZT_WIN_RELEASE_BUILD:-$ROOT/build-win64-release}"
LNX="${ZT_BUILD:-$ROOT/build}"
SHOTS="${ZT_SCREENSHOT_DIR:-$ROOT/docs}"
DATA="$ROOT/examples/sample.v3"
WORK="$(mktemp -d /tmp/zt-wine.XXXXXX)"

# shellcheck source=tools/wine-work.sh
source "$ROOT/tools/wine-work.sh"
# shellcheck source=tools/checks.sh
source "$ROOT/tools/checks.sh"
# Device waits in virtual time, for the tool and for v3sim alike: a 5 s reply wait lasts 1 s,
# room enough for an answer through Wine on a loaded machine (at 1/20, 250 ms were not).
export ZEMTABULO_TIME_SCALE=5

# The areas, in the order of a full run.
WINE_AREAS=(unit cli export zip faults console desktop station line old-windows)

OPTS_A=(--vertical --transfer-settings --startup-check --latin --speed 9600 --response-check)
OPTS_B=(--skip-bitmaps --transfer-settings --keep-sram --rs422 --speed 19200 --flow-control)

# The COM ports of the prefix: the port, the areas that send jobs to it (its device serves one job
# for each of them that runs), the device's clock (test: ZEMTABULO_TIME_SCALE; real: the real
# rate, which the shipped programs keep), and the device: v3sim with the options given, or one end
# of a socat pair. What a device receives goes to $WORK/PORT.cap.
WINE_PORTS='
COM1   cli,station  test  v3sim                   # one-digit and two-digit names: COM10 and up
COM10  cli,station  test  v3sim                   #   open only as \\.\COM10
COM2   cli          test  v3sim                   # two devices of one job
COM11  cli          test  v3sim
COM4   cli          real  v3sim --erase-ms 30000  # the processor time of a long wait
COM3   desktop      test  v3sim
COM7   faults       test  v3sim --hangup-after 10
COM8   faults       test  v3sim --silent-at fwe
COM9   faults       test  v3sim                   # held open by another program
COM12  zip          real  v3sim
COM13  console      test  v3sim --erase-ms 60000  # erasing when Ctrl-C comes
COM14  console      test  v3sim --erase-ms 60000
COM15  console      test  v3sim --erase-ms 60000  # erasing when the console closes
COM16  console      test  v3sim --erase-ms 60000
COM19  line         test  v3sim                   # sent to the line server at once
COM20  line         test  v3sim                   # written while the server is down
COM21  station      test  v3sim                   # the row a label is scanned into
COM5   unit         -     pair-a                  # the unit tests talk across the pair
COM6   unit         -     pair-b
'

winpath() { local p="${1//\//\\}"; echo "Z:$p"; }
probe() { wine "$WIN/bin/zt_dialog_probe.exe" "$@"; }
# Clicks control ID of the window TITLE.
click() {
    local xy
    xy="$(probe center "$1" "$2")" || return 1
    # shellcheck disable=SC2086
    xdotool mousemove $xy click 1
}
# Clicks the button of the message box whose text starts with TEXT, waited for up to SECONDS.
click_box() {
    local xy
    xy="$(probe box "$1" "$2")" || return 1
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
# COUNT children of zemtabulo-cli.exe were started, each with creation flags FLAGS among its
# own (none when FLAGS is 0), in the log that ZEMTABULO_CHILD_LOG named.
children_started() {
    local count="$1" log="$2" want="$3" flags program n=0
    while read -r flags program; do
        sed 's/^/     /' <<<"$flags $program"
        flags="${flags#flags=}"
        [[ "$program" == *'\zemtabulo-cli.exe' ]] || return 1
        if [ "$((want))" -eq 0 ]; then
            [ "$((flags))" -eq 0 ] || return 1
        else
            [ "$((flags & want))" -eq "$((want))" ] || return 1
        fi
        n=$((n + 1))
    done < <(tr -d '\r' <"$log")
    [ "$n" -eq "$count" ]
}
same_bytes() { cmp "$1" "$2" && [ -s "$1" ]; }
crlf_only() { [ -s "$1" ] && ! grep -q $'[^\r]$\\|^$' "$1"; }
exited_with() { [ "$(tail -n 1 "$WORK/$1.log")" = "exit status $2" ]; }

wine_selected() { [[ " $WINE_RUN " == *" $1 "* ]]; }

wine_build() {
    # Configured every time, so that a build folder from before a new target learns of it. The
    # tests' build: the clock follows ZEMTABULO_TIME_SCALE.
    cmake -S "$ROOT" -B "$WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DZT_TEST_HOOKS=ON > /dev/null
    cmake --build "$WIN" -j"$(nproc)"
    if wine_selected zip; then
        # The zip as shipped: a Release build in which the clock ignores the test hooks.
        cmake -S "$ROOT" -B "$REL" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DZT_TEST_HOOKS=OFF > /dev/null
        cmake --build "$REL" -j"$(nproc)" --target zemtabulo zemtabulo-station zemtabulo-cli
        (cd "$REL" && cpack)
    fi
    cmake -S "$ROOT" -B "$LNX" > /dev/null
    cmake --build "$LNX" -j"$(nproc)" --target zemtabulo-cli v3sim zt_control_ids_sh \
        zemtabulo-line
}

# A simulated device for SIM_JOBS write jobs (default 1), with the faults given; prints its
# pseudo-terminal.
start_sim() {
    local name="$1"
    shift
    "$LNX/bin/v3sim" --jobs "${SIM_JOBS:-1}" --idle 900 --capture "$WORK/$name.cap" "$@" \
        >"$WORK/$name.out" 2>"$WORK/$name.err" &
    echo $! >"$WORK/$name.pid"
    first_line "$WORK/$name.out"
}

# Two pseudo-terminals joined, $WORK/pair-a and $WORK/pair-b; started once.
start_pair() {
    [ -e "$WORK/pair-b" ] && return 0
    socat PTY,raw,echo=0,link="$WORK/pair-a" PTY,raw,echo=0,link="$WORK/pair-b" &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$WORK/pair-b" ] && break; sleep 0.05; done
}

# The devices of the ports that the areas of this run use, as PORT=TERMINAL in port_map.
start_ports() {
    local port areas clock device opts jobs area
    port_map=()
    while read -r port areas clock device opts; do
        jobs=0
        for area in $WINE_RUN; do
            [[ ",$areas," == *",$area,"* ]] && jobs=$((jobs + 1))
        done
        [ "$jobs" -gt 0 ] || continue
        case "$device" in
            v3sim)
                # shellcheck disable=SC2086
                port_map+=("$port=$( [ "$clock" = real ] && unset ZEMTABULO_TIME_SCALE
                                     SIM_JOBS=$jobs start_sim "$port" $opts)") ;;
            pair-a | pair-b)
                start_pair
                port_map+=("$port=$(readlink -f "$WORK/$device")") ;;
        esac
    done < <(sed 's/#.*//; /^ *$/d' <<<"$WINE_PORTS")
}

# The ports of one area.
area_ports() {
    sed 's/#.*//' <<<"$WINE_PORTS" | awk -v a="$1" 'index(","$2",", ","a",") { print $1 }'
}

# A port's device is shared by the areas that use it: each area sees what it received from the
# area's start (capture_mark) on.
capture_mark() {
    local port
    for port; do
        stat -c %s "$WORK/$port.cap" >"$WORK/$port.mark" 2>/dev/null || echo 0 >"$WORK/$port.mark"
    done
}
capture_since() { tail -c +$(($(cat "$WORK/$1.mark") + 1)) "$WORK/$1.cap" 2>/dev/null; }
# The device on PORT received what the Linux build sent in reference capture REF.
received() { same_bytes "$WORK/$1.cap" <(capture_since "$2"); }
received_nothing() { [ "$(capture_since "$1" | wc -c)" -eq 0 ]; }

# A fresh prefix: Japanese faces for the dialog font (and the captions), window frames drawn
# by Wine itself (Xvfb has no window manager), Windows 10, and the COM ports mapped to
# pseudo-terminals (PORT=PATH arguments).
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

start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
    pids+=($!)
    export DISPLAY=":$(first_line "$WORK/display")"
}

# Everything the areas given need, before the first of them runs: the devices must be there
# when the prefix is made, and the builds must be done before a device's idle time runs.
wine_setup() {
    WINE_RUN="$*"
    echo "== Build"
    wine_build
    # shellcheck source=/dev/null
    source "$LNX/control_ids.sh"

    echo "== Wine prefix and ports"
    # The display first: Wine's desktop process, started with the prefix, keeps the one it found.
    start_display
    start_ports
    make_prefix "${port_map[@]}"
}

# Runs an area: its file's wine_area_NAME, on the bytes its ports receive from now on.
wine_run_area() {
    # shellcheck source=/dev/null
    source "$ROOT/tools/wine/$1.sh"
    # shellcheck disable=SC2046
    capture_mark $(area_ports "$1")
    "wine_area_${1//-/_}"
}

# The last lines: the logs when a check failed, the counts, the exit status.
wine_report() {
    if [ "$failed" -ne 0 ]; then
        for f in "$WORK"/*.log; do echo "--- $f"; tail -n 30 "$f"; done
    fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
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

linux_write() {
    local name="$1"
    shift
    local pts
    pts="$(start_sim "$name")"
    "$LNX/bin/zemtabulo-cli" write --port "$pts" --data "$DATA" "$@" >"$WORK/$name.log" 2>&1
}

# What the Linux build sends for options A, for options B and for none, each into a v3sim of its
# own: $WORK/linux-a.cap, linux-b.cap and linux-none.cap, which the Windows programs' devices
# must receive. Made once a run, by the first area that needs them.
wine_reference_captures() {
    [ -e "$WORK/linux.made" ] && return 0
    touch "$WORK/linux.made"
    echo "-- reference captures: zemtabulo-cli write of the Linux build"
    check "Linux write, options A" linux_write linux-a "${OPTS_A[@]}"
    check "Linux write, options B" linux_write linux-b "${OPTS_B[@]}"
    check "Linux write, no options" linux_write linux-none
}
