#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# quillkit's headers compile as C99 with every warning an error, and its
# records have one layout in C and in C++, on the host and on arm-none-eabi.
#   layout_test.sh HEADER_DIR
status=0
table() { # COMPILER LANGUAGE FLAGS...: the layout table as the compiler emits it
    "$1" -x "$2" "${@:3}" -pedantic -Wall -Wextra -Werror -I "$header_dir" -S -o - "$(dirname "$0")/layout.c" |
        sed -n '/^layout:/,/\.size/p'
}
header_dir=$1
for pair in "gcc g++" "arm-none-eabi-gcc arm-none-eabi-g++"; do
    read -r cc cxx <<<"$pair"
    in_c=$(table "$cc" c -std=c99) && in_cxx=$(table "$cxx" c++ -std=c++20) || { status=1; continue; }
    if [ -z "$in_c" ] || [ "$in_c" != "$in_cxx" ]; then
        echo "$cc and $cxx lay the records out differently:"
        diff <(echo "$in_c") <(echo "$in_cxx")
        status=1
    fi
done
exit $status
