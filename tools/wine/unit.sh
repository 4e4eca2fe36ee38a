# The unit tests of the Windows build: zt_tests.exe with the socat pair as COM5 and COM6, and the
# Win32 backend's tests on real dialogs on the display.
wine_area_unit() {
    echo "== Unit tests"
    local status=0
    ZT_TEST_COM=COM5 ZT_TEST_PEER_COM=COM6 timeout 300 wine "$WIN/bin/zt_tests.exe" || status=$?
    check "zt_tests.exe (exit status $status)" [ "$status" -eq 0 ]
    status=0
    (cd "$WORK" && timeout 300 wine "$WIN/bin/zt_win32_ui_tests.exe") || status=$?
    check "zt_win32_ui_tests.exe on the display (exit status $status)" [ "$status" -eq 0 ]
}
