#!/usr/bin/env bash
# Fails on an #include that goes up the layers. Each folder may include its own layer and those
# below it; the order is the README's table:
#   platform < serial < writer < export < station < app, line < cli, programs, sim
# tests/, bench/, fuzz/ and tools/ may include anything. Prints each offending line.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
    case "$1" in
        platform) echo 0 ;;
        serial) echo 1 ;;
        writer) echo 2 ;;
        export) echo 3 ;;
        station) echo 4 ;;
        app | line) echo 5 ;;
        cli | programs | sim) echo 6 ;;
        *) echo "" ;;
    esac
}

bad=0
while IFS= read -r file; do
    own="$(rank "${file%%/*}")"
    [ -n "$own" ] || continue
    while IFS= read -r hit; do
        line="${hit%%:*}"
        target="$(sed -E 's/^[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$hit")"
        theirs="$(rank "$target")"
        [ -n "$theirs" ] || continue
        # Folders of one rank are peers that do not include each other: app and line (the
        # desktop's logic, the line server), and the programs' folders cli, programs and sim.
        if [ "$theirs" -gt "$own" ] || { [ "$own" -ge 5 ] && [ "$target" != "${file%%/*}" ] &&
            [ "$theirs" -eq "$own" ]; }; then
            echo "$file:$line: includes $target/ from ${file%%/*}/, which is below it"
            bad=1
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$file" || true)
done < <(git ls-files '*.h' '*.cpp')
if [ "$bad" -ne 0 ]; then
    echo "layers: an include goes up (see the README's table of folders)" >&2
    exit 1
fi
echo "layers: every include stays within its layer or goes down"
