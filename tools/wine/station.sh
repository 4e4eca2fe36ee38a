# zemtabulo-station.exe under Xvfb: no resource of its id, so its window is built from the
# template data. Two slots on COM1 and COM10 with the settings of options A, started together;
# each device gets the Linux build's bytes for those options. Then a label scanned into a row of
# a second window, and zemtabulo-cli.exe station --auto on a COM port that appears and goes while
# it runs.
STATION_TITLE='ZemTabulo ステーション'
# Not in WINE_PORTS: the prefix does not know it until the test plugs its device in. Far above
# them: Wine gives the machine's own serial devices (/dev/ttyS*) the first COM numbers the
# prefix leaves free, which after a whole run's ports was COM17.
AUTO_PORT=COM99

wine_area_station() {
    echo "== zemtabulo-station.exe under Xvfb"
    wine_reference_captures
    local dir="$WORK/station"
    mkdir -p "$dir"
    station_ini_a >"$dir/STATION.INI"
    (cd "$dir" && ZEMTABULO_CHILD_LOG="$(winpath "$WORK/station-children.txt")" \
        exec wine "$WIN/bin/zemtabulo-station.exe") &
    local station=$!
    check "station window opens" probe wait "$STATION_TITLE" 60
    check "station window has both rows, named from STATION.INI" station_rows
    probe consoles "$(winpath "$WORK/slots-ended")" >"$WORK/consoles.out" 2>&1 &
    local watcher=$!
    check "a watch for console windows runs" \
        [ "$(first_line "$WORK/consoles.out" | tr -d "\r")" = watching ]
    check "Enter (全台開始) starts both slots, 2 records in log.csv" start_all_slots "$dir/log.csv"
    touch "$WORK/slots-ended"
    wait "$watcher"
    check "no console window opened while the slots wrote" \
        [ "$(tail -n 1 "$WORK/consoles.out" | tr -d '\r')" = 0 ]
    check "both records say ok, on COM1 and COM10, with the same sum" station_records_ok \
        "$dir/log.csv"
    check "both rows show OK and the sum" station_rows_ok
    check "both slots' jobs started with no console window (CREATE_NO_WINDOW)" \
        children_started 2 "$WORK/station-children.txt" 0x08000000
    check "station COM1 stream equals the Linux build's" received linux-a COM1
    check "station COM10 stream equals the Linux build's" received linux-a COM10
    check "STATION.INI rewritten at Start, CR LF" station_ini_rewritten "$dir/STATION.INI"
    check "Exit closes the idle station window" click "$STATION_TITLE" "$IDC_ST_EXIT"
    local status=0
    timeout 30 tail --pid="$station" -f /dev/null || kill "$station"
    wait "$station" || status=$?
    check "Exit ends zemtabulo-station.exe with status 0" [ "$status" -eq 0 ]
    test_scan_station
    test_auto_station
}

# A label scanned into row 1's field with real key events (xdotool), under unit=required: its
# Enter starts that row alone (not 全台開始, the default button), whose record holds the id. Row 2
# is on COM1, whose device has no job left: had it started, its record would show.
test_scan_station() {
    echo "-- zemtabulo-station.exe: a label scanned into a row's field"
    local dir="$WORK/scan"
    mkdir -p "$dir"
    printf '%s\r\n' slots=2 slot1.port=COM21 slot2.port=COM1 "data=$(winpath "$DATA")" \
        unit=required log=log.csv >"$dir/STATION.INI"
    (cd "$dir" && exec wine "$WIN/bin/zemtabulo-station.exe") &
    local station=$!
    check "scan: station window opens" probe wait "$STATION_TITLE" 60
    check "scan: SN-0001 and Enter typed into row 1's field" scan_into "$IDC_SLOT1_UNIT" SN-0001
    check "scan: one record, row 1's on COM21 with SN-0001, ok" scan_record "$dir/log.csv"
    check "scan: row 1's field is empty again" \
        [ -z "$(probe text "$STATION_TITLE" "$IDC_SLOT1_UNIT" | tr -d '\r')" ]
    check "scan: COM21 stream equals the Linux build's" received linux-none COM21
    check "scan: Exit closes the window" click "$STATION_TITLE" "$IDC_ST_EXIT"
    timeout 30 tail --pid="$station" -f /dev/null || kill "$station"
    wait "$station" || true
}

scan_into() {
    click "$STATION_TITLE" "$1" && xdotool type --delay 30 "$2" && xdotool key Return
}

# The header and one record (waited for, then a few seconds more for any other), by the
# header's names: port, result and unit.
scan_record() {
    for _ in $(seq 120); do
        [ -f "$1" ] && [ "$(grep -c . "$1")" -ge 2 ] && break
        sleep 0.5
    done
    sleep 3
    local records
    records="$(tr -d '\r' <"$1" | sed '1s/^\xEF\xBB\xBF//' |
        awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
            { print $col["port"], $col["result"], $col["unit"] }')"
    sed 's/^/     /' <<<"$records"
    [ "$records" = "COM21 ok SN-0001" ]
}

# An auto slot on $AUTO_PORT, run in a console of its own by zt_console_driver.exe so that Ctrl-C
# ends it: nothing starts while the port is not there; plugged in (the dosdevices link Wine opens,
# then the system's announcement of the port, which the COM list shows), its job starts; pulled
# out and plugged in again, a second job. Each job sends the Linux build's bytes.
test_auto_station() {
    echo "-- zemtabulo-cli.exe station --auto on $AUTO_PORT"
    local dir="$WORK/auto" out="$WORK/auto.json" pts
    mkdir -p "$dir"
    pts="$(SIM_JOBS=2 start_sim auto)"
    timeout 120 wine "$WIN/bin/zt_console_driver.exe" ctrl-c "$(winpath "$dir/go")" \
        "$(winpath "$out")" "$(winpath "$WIN/bin/zemtabulo-cli.exe")" station --auto --json \
        --debounce 200 --port "$AUTO_PORT" --data "$(winpath "$DATA")" 2>"$WORK/auto.log" &
    local driver=$!
    check "auto: $AUTO_PORT waits for its device" auto_events "$out" '"state":"waiting"' 1
    sleep 1
    check "auto: nothing starts while $AUTO_PORT is not there" \
        [ "$(grep -c '"state":"detected"' "$out")" -eq 0 ]
    for n in 1 2; do
        auto_plug "$pts"
        check "auto: plugged in ($n), its job ends ok" auto_events "$out" '"result":"ok"' "$n"
        check "auto: 取り外してください ($n)" auto_events "$out" '"state":"remove"' "$n"
        auto_unplug
        check "auto: pulled out ($n), the slot waits again" \
            auto_events "$out" '"state":"waiting"' $((n + 1))
    done
    touch "$dir/go"
    local status=0
    wait "$driver" || status=$?
    echo "exit status $status" >>"$WORK/auto.log"
    check "auto: Ctrl-C ends the station with status 130" [ "$status" -eq 130 ]
    check "auto: two jobs, each the Linux build's bytes" \
        same_bytes "$WORK/auto.cap" <(cat "$WORK/linux-none.cap" "$WORK/linux-none.cap")
}

# At least N lines of the events FILE hold TEXT, waited for up to 30 s.
auto_events() {
    for _ in $(seq 300); do
        [ -f "$1" ] && [ "$(grep -c "$2" "$1")" -ge "$3" ] && return 0
        sleep 0.1
    done
    return 1
}

# The device on PTS plugged into $AUTO_PORT: the node Wine opens, then the port announced for as
# long as the announcing program runs.
auto_plug() {
    ln -sfn "$1" "$WINEPREFIX/dosdevices/${AUTO_PORT,,}"
    # Not through probe(): $! must be the program itself, whose end takes the port away.
    wine "$WIN/bin/zt_dialog_probe.exe" plug "$AUTO_PORT" 120 >"$WORK/plug.out" 2>&1 &
    plugged=$!
    first_line "$WORK/plug.out" >/dev/null
}

auto_unplug() {
    kill "$plugged" 2>/dev/null || true
    wait "$plugged" 2>/dev/null || true
    rm -f "$WINEPREFIX/dosdevices/${AUTO_PORT,,}"
}

# Options A as STATION.INI keys.
station_ini_a() {
    printf '%s\r\n' slots=2 slot1.name=ライン1 slot1.port=COM1 slot2.name=ライン2 slot2.port=COM10 \
        "data=$(winpath "$DATA")" vertical=1 transfer-settings=1 startup-check=1 latin=1 \
        line-speed=9600 response-check=1 log=log.csv
}

# (Wine gives no window text for a drop-down list: the ports are checked in the log records.)
station_rows() {
    [ "$(probe text "$STATION_TITLE" "$IDC_SLOT1_NAME" | tr -d '\r')" = ライン1 ] &&
        [ "$(probe text "$STATION_TITLE" "$IDC_SLOT2_NAME" | tr -d '\r')" = ライン2 ]
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
    r1="$(probe text "$STATION_TITLE" "$IDC_SLOT1_RESULT" | tr -d '\r')"
    r2="$(probe text "$STATION_TITLE" "$IDC_SLOT2_RESULT" | tr -d '\r')"
    echo "     result fields: $r1 / $r2"
    [[ "$r1" == "OK "?* ]] && [ "$r1" = "$r2" ]
}

station_ini_rewritten() {
    crlf_only "$1" && grep -q '^slot2.port=COM10'$'\r''$' "$1" && grep -q '^first-sum=0'$'\r''$' "$1"
}
