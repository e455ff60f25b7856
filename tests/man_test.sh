#!/usr/bin/env bash
# Renders each man page with every groff warning turned on; any warning fails.
status=0
for page in "$@"; do
    warnings=$(groff -ww -z -man "$page" 2>&1) || status=1
    if [ -n "$warnings" ]; then
        printf '%s:\n%s\n' "$page" "$warnings"
        status=1
    fi
    # man itself, as a user runs it
    MANWIDTH=80 man -l "$page" > /dev/null 2> >(grep . && exit 1) || status=1
done
exit $status
