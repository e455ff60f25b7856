#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders every man page of a folder with each groff warning on, and with
# man as a user runs it; any warning fails.
status=0
for page in "$1"/*.1; do
    warnings=$(groff -ww -z -man "$page" 2>&1; MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { printf '%s:\n%s\n' "$page" "$warnings"; status=1; }
done
exit $status
