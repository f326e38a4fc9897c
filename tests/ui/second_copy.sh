#!/usr/bin/env bash
# Starts quarry on a fresh home, then a second copy on the same home: the second must refuse
# with a clear message and a non-zero status while the first keeps running.
set -u
quarry=$1
home=$(mktemp -d)
trap 'kill "$first" 2>/dev/null; wait "$first" 2>/dev/null; rm -rf "$home"' EXIT
"$quarry" --home "$home" &
first=$!
for _ in $(seq 50); do [ -f "$home/sys/quarry.lock" ] && break; sleep 0.1; done
sleep 0.3
output=$("$quarry" --home "$home" 2>&1)
status=$?
if [ "$status" -eq 0 ] || ! grep -q "Another copy of Quarry" <<<"$output"; then
  echo "second copy was not refused (status $status): $output"
  exit 1
fi
kill -0 "$first" || { echo "first copy died"; exit 1; }
echo "second copy refused: $output"
