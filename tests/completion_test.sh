#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Loads the bash completion and checks what some words complete to, the way
# bash calls it: the command, the word and the word before it.
source "$1"
cd "$(mktemp -d)" && touch app.hex boot.bin
status=0
expect() { # expect WANTED COMMAND WORD...
    local want=$1
    shift
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
    _tesslar "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    [ "${COMPREPLY[*]}" = "$want" ] || { echo "'$*' completes to '${COMPREPLY[*]}', not '$want'"; status=1; }
}
expect "--pad --padgran" tesslar --pa
expect "1 2 4" tesslar --padgran ""
expect "" tesslar --offset ""
expect "16bit segment linear" tesslar-hex --mode ""
expect "--skip" tesslar-hex --sk
expect "CRC-16/MODBUS CRC-16/MCRF4XX" tesslar-merge --crc CRC-16/M
expect "little big" tesslar-merge --crc-endian ""
expect "error same first last" tesslar-merge --overlap ""
expect "boot.bin" /usr/bin/tesslar-merge -o b
expect "--no-start" tesslar-merge --no
for command in tesslar tesslar-hex tesslar-merge; do
    [[ $(complete -p $command) == *"-F _tesslar"* ]] || { echo "$command has no completion"; status=1; }
done
exit $status
