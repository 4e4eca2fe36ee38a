# The console's end of a write into two devices at once: Ctrl-C and the console closed while
# both devices erase, each sent by zt_console_driver.exe into a console of the write's own.
# Every device must be recorded interrupted at its step before the program ends.
wine_area_console() {
    echo "== zemtabulo-cli.exe write into two devices, its console interrupted"
    test_console_event ctrl-c COM13 COM14 130
    test_console_event close COM15 COM16 ''
}

# The status line a device's job shows while the device erases.
ERASING='ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始'

# The write's output shows both ports erasing, waited for up to 30 s.
both_erasing() {
    for _ in $(seq 300); do
        grep -q "^$2: $ERASING" "$1" 2>/dev/null && grep -q "^$3: $ERASING" "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The port, result and step of each record, by the header's names, sorted.
log_records() {
    tr -d '\r' <"$1" | sed '1s/^\xEF\xBB\xBF//' |
        awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
            { print $col["port"], $col["result"], $col["step"] }' | sort
}

both_recorded_interrupted() {
    local records
    records="$(log_records "$1")"
    sed 's/^/     /' <<<"$records"
    [ "$records" = "$(printf '%s interrupted erase\n%s interrupted erase' "$2" "$3" | sort)" ]
}

# The driver's report: a handler ran in the write and in both its jobs, and none was still
# running when Windows would have ended its process.
handlers_returned() {
    [ "$(grep -c 'handler returned' "$1")" -eq 3 ] && ! grep -q 'handler still running' "$1"
}

# A write on PORT1 and PORT2, its console sent EVENT once both devices erase; the write must end
# with STATUS (any when empty) and both devices recorded interrupted at the erase.
test_console_event() {
    local event="$1" p1="$2" p2="$3" want="$4"
    local dir="$WORK/console-$event" out="$WORK/console-$event-cli.log"
    mkdir -p "$dir"
    local start=$SECONDS
    ZEMTABULO_CHILD_LOG="$(winpath "$dir/children.txt")" timeout 90 \
        wine "$WIN/bin/zt_console_driver.exe" "$event" "$(winpath "$dir/go")" "$(winpath "$out")" \
        "$(winpath "$WIN/bin/zemtabulo-cli.exe")" write \
        --port "$p1" --port "$p2" --data "$(winpath "$DATA")" --log "$(winpath "$dir/log.csv")" \
        2>"$WORK/console-$event.log" &
    local driver=$!
    if ! check "$event: both devices erase" both_erasing "$out" "$p1" "$p2"; then
        kill "$driver" 2>/dev/null
        wait "$driver" 2>/dev/null
        return
    fi
    touch "$dir/go"
    local status=0
    wait "$driver" || status=$?
    echo "exit status $status" >>"$WORK/console-$event.log"
    [ -z "$want" ] || check "$event: exit status $want" [ "$status" -eq "$want" ]
    # Started without flags, the jobs are on the console too: the event reaches each of them.
    check "$event: both jobs started on the write's console" \
        children_started 2 "$dir/children.txt" 0
    if [ "$event" = close ]; then
        check "close: every handler returned within Windows's 5 s" \
            handlers_returned "$WORK/console-$event.log"
    fi
    check "$event: $p1 and $p2 recorded interrupted at the erase" \
        both_recorded_interrupted "$dir/log.csv" "$p1" "$p2"
    echo "     ($event: $((SECONDS - start)) s)"
}
