# The shipped zip: its files, the DLLs its programs import, and a write from the folder it was
# unpacked into.
wine_area_zip() {
    echo "== The Windows zip"
    wine_reference_captures
    test_zip
}

# The zip an operator gets, as the project version names it.
zip_version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$REL/CMakeCache.txt"; }
zip_name() { echo "zemtabulo-$(zip_version)-win64"; }

# Its one folder holds the three programs, the wave files and README.txt, and nothing else.
zip_lists_exactly() {
    local top
    top="$(zip_name)"
    [ "$(unzip -Z1 "$REL/$top.zip" | grep -vx "$top/" | sort)" = "$(printf '%s\n' zemtabulo.exe \
        zemtabulo-station.exe zemtabulo-cli.exe ringin.wav carib.wav end.wav README.txt |
        sed "s|^|$top/|" | sort)" ]
}

# Only DLLs of every Windows: nothing to ship beside the programs. Prints any other.
only_system_dlls() {
    local dlls
    dlls="$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')"
    [ -n "$dlls" ] && ! grep -viE \
        '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|winmm|imm32|bcrypt|winhttp|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' \
        <<<"$dlls"
}

station_version() {
    local line
    line="$(cd "$1" && timeout 60 wine ./zemtabulo-station.exe --version | tr -d '\r')" &&
        grep -q "^zemtabulo-station $(zip_version)" <<<"$line"
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
    check "COM12 stream equals the Linux build's" received linux-none COM12
}
