#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An output is on the disk before it takes the old one's place, and so is the
# folder's new entry after: fsync of the new file, the rename, fsync of the folder.
set -euo pipefail
export ASAN_OPTIONS=detect_leaks=0 # LeakSanitizer does not run under ptrace
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
printf ':0100000055AA\n:00000001FF\n' >in.hex
for run in "$1/tesslar-merge -o out.hex in.hex" "$1/tesslar-hex in.hex out.hex"; do
    calls=$(strace -e trace=fsync,rename $run 2>&1 >/dev/null | sed -n 's/^\(fsync\|rename\)(.*/\1/p' | tr '\n' ' ')
    [ "$calls" = "fsync rename fsync " ] || { echo "$run: $calls"; exit 1; }
done
