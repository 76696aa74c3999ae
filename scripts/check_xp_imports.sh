#!/usr/bin/env bash
# Fails when a 32-bit Windows program imports a function that Windows XP SP3
# lacks: lists each program's imports with objdump and looks every one up in
# xp_deny_list.txt beside this script, where the list's source is named.
#   scripts/check_xp_imports.sh PROGRAM.exe...
set -euo pipefail
DENY_LIST=$(dirname "$0")/xp_deny_list.txt
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}

# imports EXE: one "DLL FUNCTION" line per imported function.
imports() {
    "$OBJDUMP" -p "$1" | awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        /^$/ { dll = "" }
        dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $3 }'
}

failed=0
for exe in "$@"; do
    list=$(imports "$exe")
    [ -n "$list" ] || { echo "FAIL $exe: no imports found"; failed=1; continue; }
    denied=$( (awk '{ print $2 }' <<<"$list" | grep -Fxf <(grep -v '^#' "$DENY_LIST") || true
        awk '$1 == "msvcrt.dll" && $2 ~ /_s$/ { print $2 }' <<<"$list") | sort -u)
    if [ -n "$denied" ]; then
        echo "FAIL $exe imports what Windows XP lacks:" $denied
        failed=1
    else
        echo "ok   $exe: $(wc -l <<<"$list") imports, all on Windows XP SP3"
    fi
done
exit "$failed"
