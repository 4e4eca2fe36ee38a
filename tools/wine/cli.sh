# zemtabulo-cli.exe write: on a one-digit and a two-digit COM port, into two devices at once, and
# into a device slow to erase on the real clock; the bytes on the line compared with the Linux
# build's.
wine_area_cli() {
    echo "== zemtabulo-cli.exe write"
    wine_reference_captures
    check "write on COM1" wine_write win-com1 COM1 "${OPTS_A[@]}"
    check "write on COM10" wine_write win-com10 COM10 "${OPTS_B[@]}"
    check "COM1 stream equals the Linux build's" received linux-a COM1
    check "COM10 stream equals the Linux build's" received linux-b COM10
    check "write on COM2 and COM11 at once" wine_multi_write
    check "COM2 stream equals the Linux build's" received linux-a COM2
    check "COM11 stream equals the Linux build's" received linux-a COM11
    check "the sum is shown" grep -q 'データ sum=' "$WORK/win-com1.log"
    test_slow_erase
}

# Two devices at once: one child job per port, its events read from its pipe.
wine_multi_write() {
    wine_write win-multi COM2 --port COM11 --json "${OPTS_A[@]}" &&
        grep -q '"event":"done","exit":0' "$WORK/win-multi.log" &&
        [ "$(grep -c '"result":"ok"' "$WORK/win-multi.log")" -eq 2 ]
}

# A device whose erase takes 30 s, on the real clock as shipped: the program waits in the driver
# rather than looking at the port every millisecond, so the job costs it little processor time.
# (30 s, so that the start of Wine itself, some 0.15 s of processor time, weighs little.)
test_slow_erase() {
    local t pct
    t="$( { TIMEFORMAT='%U %S %R'; time ZEMTABULO_TIME_SCALE=1 wine_write slow-erase COM4; } 2>&1)" || true
    pct="$(awk -v t="$t" 'BEGIN { split(t, x, " "); printf "%.2f", 100 * (x[1] + x[2]) / x[3] }')"
    check "write on COM4 with a 30 s erase" exited_with slow-erase 0
    check "COM4 stream equals the Linux build's" received linux-none COM4
    check "the program used $pct % of a core over that job (at most 1.5 %)" \
        awk "BEGIN { exit !($pct <= 1.5) }"
}
