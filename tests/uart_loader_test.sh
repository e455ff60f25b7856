#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The example bootloader rebuilds a slot that tesslar-merge filled and
# stamped, from its records shuffled and fed in chunks of random sizes, byte
# for byte as tesslar's image of it; it refuses a record outside its slot
# and a CRC or a SHA-256 that it does not find.
#   uart_loader_test.sh BUILD_DIR LOADER INPUT.hex
build=$1 loader=$2 input=$3
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT || exit 1
slot=(--mode 16bit --record-bytes 48 --fill 0:0xFFF --crc CRC-32 --crc-at 0xFFC)
sha=(--stamp sha256@0xFDC,range=0:0xFDB)
"$build/tesslar-merge" "${slot[@]}" "${sha[@]}" -o slot.hex "$input" >/dev/null && "$build/tesslar" slot.hex slot.bin >/dev/null &&
    "$build/tesslar-merge" "${slot[@]}" "${sha[@]}" --crc-endian big -o other.hex "$input" >/dev/null &&
    "$build/tesslar-merge" "${slot[@]}" --stamp sha256@0xFDC,range=0:0xFDA -o short.hex "$input" >/dev/null || exit 1
# records in any order (the end-of-file record last), 48 bytes across 1 KiB pages
(head -n -1 slot.hex | shuf --random-source=<(yes); tail -n 1 slot.hex) >shuffled.hex
status=0
for seed in 0 1 2 3 4 5 6 7; do
    "$loader" 0 0xFFF shuffled.hex out.bin $seed >/dev/null && cmp slot.bin out.bin || status=1
done
"$loader" 0 0x7FF shuffled.hex out.bin | grep -q "^refused: a record outside the slot (code 9)" || status=1
"$loader" 0 0xFFF other.hex out.bin | grep -q "^refused: the slot's CRC does not match" || status=1
"$loader" 0 0xFFF short.hex out.bin | grep -q "^refused: the slot's SHA-256 does not match" || status=1
exit $status
