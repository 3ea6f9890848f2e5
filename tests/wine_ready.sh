#!/bin/sh
# SPDX-License-Identifier: MIT
# Readies Wine for the suite's Windows programs: makes the prefix (Wine's first
# start), starts its server, kept until half a minute after the last program, and
# its helper processes (services, explorer), which the first program starts and
# which live as long as the server. Their output streams are a log file here: a
# helper started by a test program would hold that test's output pipe, and ctest
# would wait for it until the whole suite ended.
# Usage: wine_ready.sh WINE LOG
wine=$1 log=$2
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
"$wineserver" -p 30 < /dev/null > "$log" 2>&1
if ! "$wine" cmd /c exit < /dev/null >> "$log" 2>&1; then
    cat "$log"
    exit 1
fi
