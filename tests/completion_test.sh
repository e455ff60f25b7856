#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Loads the bash completion and completes some words the way bash calls it:
# the command, the word and the word before it.
source "$1"
cd "$(mktemp -d)" && touch app.hex boot.bin
status=0
expect() { # WANTED COMMAND... WORD: what the last word completes to ("" for an empty word)
    local want=$1 words=("${@:2}")
    COMPREPLY=() COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1))
    _tesslar "${words[0]}" "${words[-1]}" "${words[-2]}"
    [ "${COMPREPLY[*]}" = "$want" ] || { echo "'${words[*]}' completes to '${COMPREPLY[*]}', not '$want'"; status=1; }
}
expect "--pad --padgran" tesslar --pa
expect "16bit segment linear" tesslar-hex --mode ""
expect "CRC-16/MODBUS CRC-16/MCRF4XX" tesslar-merge --crc CRC-16/M
expect "boot.bin" /usr/bin/tesslar-merge -o b
expect "--no-start" tesslar-merge --no
exit $status
