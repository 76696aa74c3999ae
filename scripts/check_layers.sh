#!/usr/bin/env bash
# Checks the layering: a folder includes only from itself and the folders
# below it. Usage: check_layers.sh [SOURCE_ROOT]; exits 1 and names every
# include that points upward or sideways.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# Each folder and the folders it may include from, bottom up. tests/ and
# fuzz/ stand above everything and may include anything.
declare -A allowed=(
    [core]="core"
    [link]="core link"
    [services]="core link services"
    [commands]="core link services commands"
    [sim]="core link sim"
    [app]="core link services commands app"
    [win32]="core link services commands sim app win32"
    [cli]="core link services commands sim app cli"
    [mount]="core link services commands sim app mount"
)

status=0
for folder in "${!allowed[@]}"; do
    [ -d "$root/$folder" ] || continue
    while IFS=: read -r file line text; do
        target=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")
        if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "${file#"$root"/}:$line: $folder/ may not include $target/: $text"
            status=1
        fi
    done < <(grep -HnE '^#include "[^/"]+/' "$root/$folder"/*.h "$root/$folder"/*.cpp 2>/dev/null || true)
done
[ $status -eq 0 ] && echo "Layers: every include points downward."
exit $status
