#!/usr/bin/env bash
# End-to-end test of p2kfm-mount with the real libfuse: mounts a demo folder,
# lists it, copies a file out and back, compares, sets attributes, deletes,
# checks the free space, unmounts, and checks with p2kfm-cli that the demo
# folder kept the changes. Prints one line per check and closes with
# "N passed, M failed". Skipped, with the reason, where FUSE cannot be used.
set -euo pipefail
. "$(dirname "$0")/common.sh"

BUILD=${1:-$P2K_BUILD/native}
MOUNT=$BUILD/p2kfm-mount
CLI=$BUILD/p2kfm-cli

echo "== Mount end-to-end (libfuse)"
if [ ! -e /dev/fuse ]; then
    echo "SKIPPED: /dev/fuse is missing (FUSE needs it; containers must pass it in)"
    exit 0
fi
if ! command -v fusermount3 >/dev/null; then
    echo "SKIPPED: fusermount3 is not installed"
    exit 0
fi

work=$(mktemp -d)
mnt=$work/mnt
store=$work/store
mkdir -p "$mnt"
cleanup() {
    mountpoint -q "$mnt" && fusermount3 -u "$mnt"
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        echo "ok   $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name"
        sed 's/^/     /' "$work/out"
        failed=$((failed + 1))
    fi
}

audio=$mnt/a/mobile/audio
check "mounts --demo-dir" timeout 20 "$MOUNT" --demo-dir "$store" "$mnt"
check "a second mount of the folder is refused" bash -c "mkdir -p '$work/mnt2' && ! '$MOUNT' --demo-dir '$store' '$work/mnt2' 2>'$work/err' && grep -q 'is in use by another p2kfm' '$work/err'"
check "ls -R shows the tree with UTF-8 names" bash -c "ls -R '$mnt' | grep -qx 'Мелодия.mid' && ls '$mnt' | grep -qx MyToneDB.db"
check "sizes come from the list" test "$(stat -c %s "$audio/Звонок.mid")" = 3305
check "cp out" cp "$audio/Мелодия.mid" "$work/out.mid"
check "cp back under a new Cyrillic name" cp "$work/out.mid" "$audio/Копия.mid"
check "cmp the copy on the phone" cmp "$audio/Мелодия.mid" "$audio/Копия.mid"
check "a new folder holds a new file" bash -c "mkdir -p '$mnt/a/new' && cp '$work/out.mid' '$mnt/a/new/x.mid' && cmp '$work/out.mid' '$mnt/a/new/x.mid'"
check "mv copies and deletes" bash -c "mv '$mnt/a/new/x.mid' '$audio/moved.mid' && cmp '$work/out.mid' '$audio/moved.mid' && [ ! -e '$mnt/a/new/x.mid' ]"
check "rm deletes" bash -c "rm '$audio/Alarm.mid' && [ ! -e '$audio/Alarm.mid' ]"
check "df gives the free space" bash -c "df -k --output=avail '$mnt' | tail -1 | grep -qE '^ *[0-9]+$'"
check "getfattr reads the attributes" bash -c "getfattr --only-values -n user.p2k.attributes '$mnt/a/mobile/java/Game.jar' | grep -qx 65536"
check "setfattr writes the attributes" bash -c "setfattr -n user.p2k.attributes -v 5 '$audio/Копия.mid' && getfattr --only-values -n user.p2k.attributes '$audio/Копия.mid' | grep -qx 5"
check "chmod is refused" bash -c "! chmod 600 '$audio/Копия.mid'"
check "unmounts" fusermount3 -u "$mnt"
check "the demo folder kept the changes" bash -c "'$CLI' --demo-dir '$store' list --tsv 2>/dev/null | grep -qx \$'/a/mobile/audio/Копия.mid\t5\t2750' && ! '$CLI' --demo-dir '$store' list --tsv 2>/dev/null | grep -q Alarm.mid"
check "the copy came back whole" bash -c "'$CLI' --demo-dir '$store' get /a/mobile/audio/Копия.mid --to '$work' >/dev/null && cmp '$work/out.mid' '$work/Копия.mid'"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
