# zemtabulo.exe under Xvfb: the main dialog, a screenshot, Port settings, Exit, and a write job
# started from the dialog.
MAIN_TITLE='ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1'
PORT_TITLE='シリアルポートの設定'

wine_area_desktop() {
    echo "== zemtabulo.exe under Xvfb"
    wine_reference_captures
    test_gui
    test_gui_write
}

# SCI.INI holds exactly the bytes given.
ini_is() { [ "$(od -An -c "$WORK/gui/SCI.INI" | tr -s ' ')" = "$(printf '%s' "$1" | od -An -c | tr -s ' ')" ]; }

port_settings_ok() {
    click "$MAIN_TITLE" "$IDC_PORT_SETTINGS" && probe wait "$PORT_TITLE" 20 || return 1
    # COM1 is preselected as "COM1 "; from OK two tabs reach the list, whose next entry
    # down is "COM2 ". The pointer stays off the list.
    xdotool mousemove 0 0 && sleep 0.3 && xdotool key Tab Tab Down && sleep 0.3 &&
        click "$PORT_TITLE" "$IDC_OK" && probe gone "$PORT_TITLE" 20 && ini_is $'COM2 \r\n'
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
    check "Exit closes the main dialog" click "$MAIN_TITLE" "$IDC_EXIT"
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
    check "GUI stream equals the Linux build's" received linux-none COM3
    click "$MAIN_TITLE" "$IDC_EXIT" || true
    local status=0
    wait "$gui" || status=$?
    check "Exit after the job ends the program with status 0" [ "$status" -eq 0 ]
}

choose_data_file() {
    click "$MAIN_TITLE" "$IDC_DATA_FILE" && probe wait '画面データの指定' 20 || return 1
    # The chooser opens with the keyboard in its file name box.
    sleep 0.5
    xdotool type --delay 20 "$(winpath "$DATA")" && xdotool key Return &&
        probe gone '画面データの指定' 20 &&
        [ "$(probe text "$MAIN_TITLE" "$IDC_DATA_PATH" | tr -d "\r")" = "$(winpath "$DATA")" ]
}

start_job() { click "$MAIN_TITLE" "$IDC_START" && click_box 'データ sum=' 120; }

end_job() { click_box '書込みが終了しました' 60 && probe enabled "$MAIN_TITLE" "$IDC_START" 20; }
