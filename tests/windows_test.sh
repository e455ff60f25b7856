#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The rules of Windows, for the Windows programs under wine (README.md).
#   windows_test.sh BUILD_DIR WINE README
build=$1 wine=$2 readme=$3 status=0
export WINEDEBUG=-all
"$(dirname "$wine")/wineserver" -p30
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT || exit 1
fail() { echo "FAIL: $*"; status=1; }
run() { "$wine" "$build/$1.exe" "${@:2}" >out.txt 2>err.txt; }
printf ':0400000011111111B8\r\n:00000001FF\r\n' > in.hex
cp in.hex kept.hex && ln in.hex link.hex
for output in IN.HEX link.hex "Z:$(pwd | tr / '\\')\\in.hex"; do
    ! run tesslar in.hex "$output" && grep -qF "ERROR: cannot open output file: '$output'" out.txt ||
        fail "tesslar: $output: $(cat out.txt)"
    ! run tesslar-merge -o "$output" in.hex && grep -qxF "ERROR: the output file is one of the inputs: '$output'" err.txt ||
        fail "merge: $output: $(cat err.txt)"
    cmp -s in.hex kept.hex || fail "the input changed with $output"
done
printf '\001\002\377' > 'Ωμέγα.bin'
run tesslar-hex 'Ωμέγα.bin' '固件.hex' && run tesslar '固件.hex' 'back.bin' && cmp -s 'Ωμέγα.bin' back.bin ||
    fail "names in other scripts: $(cat out.txt err.txt)"
deep=$(printf 'd%.0s' {1..230}) # a folder whose path nears MAX_PATH, which a temporary file's name passes
mkdir "$deep" && printf 'an earlier output\r\n' | tee old.hex >"$deep/old.hex"
for old in old.hex "$deep/old.hex"; do # an earlier output replaced whole
    run tesslar-merge -o "$old" in.hex && cmp -s "$old" <(printf ':020000040000FA\r\n'; cat in.hex) ||
        fail "$old was not replaced: $(cat "$old" err.txt)"
done
run tesslar-merge -o nodir/new.hex in.hex
grep -qF "ERROR: cannot open output file: 'nodir/new.hex': No such file or directory" err.txt || fail "$(cat err.txt)"
ls . "$deep" | grep -qi '\.tsl' && fail "a temporary file was left: $(ls . "$deep")"
for command in tesslar tesslar-hex tesslar-merge; do # Windows' own DLLs only
    x86_64-w64-mingw32-objdump -p "$build/$command.exe" | grep "DLL Name" | grep -viE "(kernel32|msvcrt|shell32)\.dll" &&
        fail "$command needs a DLL that Windows does not have"
done
# the zip: one folder, and texts with CR LF line ends; the README holds each command's usage
(cd "$build" && cpack -G ZIP >/dev/null) && zip=$(ls "$build"/tesslar-*-win64.zip) || fail "no zip"
[ "$(unzip -Z1 "$zip" | cut -d/ -f1 | sort -u)" = "$(basename "$zip" .zip)" ] || fail "the zip is not one folder"
[ "$(unzip -p "$zip" '*/LICENSE' | grep -c $'\r$')" = "$(unzip -p "$zip" '*/LICENSE' | wc -l)" ] || fail "LF in LICENSE"
for command in tesslar-hex tesslar-merge; do
    lacks=$("$wine" "$build/$command.exe" --help | tr -d '\r' | grep -vxFf "$readme")
    [ $? = 1 ] || fail "the README lacks these lines of $command's usage: $lacks"
done
exit $status
