#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An output takes the old one's place by a rename, flushed to the disk only
# with --sync: then fsync of the new file, the rename, fsync of the folder.
set -euo pipefail
export ASAN_OPTIONS=detect_leaks=0 # LeakSanitizer does not run under ptrace
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
printf ':0100000055AA\n:00000001FF\n' >in.hex
for run in "$1/tesslar-merge -o out.hex in.hex" "$1/tesslar-hex in.hex out.hex"; do
    for sync in "" "--sync"; do
        calls=$(strace -e trace=fsync,rename $run $sync 2>&1 >/dev/null | sed -n 's/^\(fsync\|rename\)(.*/\1/p' |
            tr '\n' ' ')
        [ "$calls" = "$([ -n "$sync" ] && echo "fsync rename fsync " || echo "rename ")" ] ||
            { echo "$run $sync: $calls"; exit 1; }
    done
done
# Any number of outputs, each written beside its target and renamed over it.
outputs=$(for i in $(seq 70); do printf -- '-o out%d.hex ' "$i"; done)
renames=$(strace -e trace=rename "$1/tesslar-merge" $outputs in.hex 2>&1 >/dev/null | grep -c '^rename(')
[ "$renames" = 70 ] && [ "$(ls | grep -c '^out[0-9][0-9]*\.hex$')" = 70 ] && [ "$(ls | wc -l)" = 72 ] ||
    { echo "70 outputs: $renames renames; the folder holds $(ls)"; exit 1; }
