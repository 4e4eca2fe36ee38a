#!/usr/bin/env bash
# The Windows build under Wine and Xvfb, against the Linux build (v3sim, and zemtabulo-cli for
# the byte-for-byte comparisons), by areas, each in tools/wine/AREA.sh over tools/wine/lib.sh:
#   unit         zt_tests.exe and the Win32 backend's tests on the display
#   cli          zemtabulo-cli.exe write on COM1 and COM10, into two devices at once, and into a
#                device slow to erase on the real clock (the processor time the program used)
#   export       zemtabulo-cli.exe export, the files compared with the Linux build's
#   zip          the shipped zip: its files, the DLLs its programs import, a write from the
#                folder it was unpacked into
#   faults       writes that fail: the line gone mid-data, a device that never answers, a port
#                held by another program
#   console      zemtabulo-cli.exe write into two devices, its console sent Ctrl-C or closed
#                while both erase (tests/win32/console_driver.cpp): both recorded interrupted
#   desktop      zemtabulo.exe: the main dialog, a screenshot, Port settings, Exit, a write job
#   station      zemtabulo-station.exe: its window built from the template, two slots on COM1
#                and COM10 written at once, each job started with no console window (its
#                flags, and none shown), the log records; a label typed into a row's field
#                starting that row alone; zemtabulo-cli.exe station --auto on a COM port
#                plugged in and pulled out twice while it runs
#   line         zemtabulo-cli.exe write --line sending through WinHTTP to zemtabulo-line on the
#                loopback (a throwaway PostgreSQL cluster): at once, and after the server was down
#   old-windows  both programs refusing a Windows older than 10 version 1903
# Usage: tools/wine-tests.sh [AREA...]: the areas given (none needs another to have run first),
# or all of them in the order above. The last line is "N passed, N failed". See tools/wine/lib.sh
# for the builds and packages needed.
set -euo pipefail

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$0")/wine/lib.sh"

[ $# -gt 0 ] || set -- "${WINE_AREAS[@]}"
run=()
for area; do
    if [[ " ${WINE_AREAS[*]} " != *" $area "* ]]; then
        echo "unknown area \"$area\"; the areas: ${WINE_AREAS[*]}" >&2
        exit 2
    fi
    [[ " ${run[*]} " == *" $area "* ]] || run+=("$area")
done

wine_setup "${run[@]}"
for area in "${run[@]}"; do wine_run_area "$area"; done
wine_report
