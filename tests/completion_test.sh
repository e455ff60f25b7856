#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Loads the bash completion and checks what some words complete to, the way
# bash calls it: the command, the word and the word before it.
source "$1"
cd "$(mktemp -d)" && touch app.hex boot.bin
status=0
while read -r want words; do
    read -ra COMP_WORDS <<<"$words"
    [ "${words: -1}" = "_" ] && COMP_WORDS[-1]="" # an empty word
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
    _tesslar "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    [ "${COMPREPLY[*]}" = "${want//,/ }" ] || { echo "'$words' completes to '${COMPREPLY[*]}', not '$want'"; status=1; }
done <<'CASES'
--pad,--padgran tesslar --pa
1,2,4 tesslar --padgran _
16bit,segment,linear tesslar-hex --mode _
CRC-16/MODBUS,CRC-16/MCRF4XX tesslar-merge --crc CRC-16/M
list tesslar-merge --crc l
error,same,first,last tesslar-merge --overlap _
boot.bin /usr/bin/tesslar-merge -o b
--no-start tesslar-merge --no
CASES
for command in tesslar tesslar-hex tesslar-merge; do
    [[ $(complete -p $command) == *"-F _tesslar"* ]] || { echo "$command has no completion"; status=1; }
done
exit $status
