# zemtabulo-cli.exe export: the update and gaiji files equal the Linux build's for the same
# options.
wine_area_export() {
    echo "== zemtabulo-cli.exe export"
    check "export gives the Linux build's files" test_export
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
