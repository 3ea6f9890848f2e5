#!/bin/sh
# Formats each manual page as man(1) would on an 80-column terminal and fails on
# any warning: bad requests, unknown escapes, tables wider than the page.
# Usage: check_man_pages.sh PAGE...    (exit 77: skipped, groff is not installed)
command -v groff >/dev/null 2>&1 || { echo "groff is not installed (apt-get install groff-base): skipped"; exit 77; }
status=0
for page in "$@"; do
    warnings=$(groff -ww -t -man -Tutf8 -rLL=78n -z "$page" 2>&1)
    if [ -z "$warnings" ] && command -v man >/dev/null 2>&1; then
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    fi
    if [ -n "$warnings" ]; then
        printf '%s:\n%s\n' "$page" "$warnings"
        status=1
    fi
done
exit $status
