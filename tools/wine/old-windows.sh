# Both programs on a Wine told to be Windows 7: the refusal instead of the program.
wine_area_old_windows() {
    echo "== Windows older than 10 version 1903"
    test_old_windows
}

# Wine told to be Windows 7 for one program.
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
    click_box 'This program needs Windows 10' 60 && shown=1
    check "Windows 7: zemtabulo.exe shows the refusal" [ "$shown" -eq 1 ]
    [ "$shown" -eq 1 ] || kill "$gui"
    status=0
    wait "$gui" || status=$?
    as_default_windows zemtabulo.exe
    check "Windows 7: zemtabulo.exe exits with status 1 after the box" [ "$status" -eq 1 ]
    check "Windows 7: zemtabulo.exe wrote no SCI.INI" [ ! -e "$WORK/old-gui/SCI.INI" ]
}

old_windows_text() {
    [ "$(head -n 1 "$1" | tr -d '\r')" = 'This program needs Windows 10 version 1903 or later.' ] &&
        [ "$(sed -n 2p "$1" | tr -d '\r')" = 'このプログラムには Windows 10 バージョン 1903 以降が必要です。' ]
}
