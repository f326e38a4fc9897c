#!/usr/bin/env bash
# Whole-harvest benchmark: Quarry harvests a PDF task of 2,000 files from the local search
# service with 6 threads; then wget -i (one connection at a time) and aria2c -j6 -i (six at
# once) fetch the same 2,000 files from the same service. Prints files per second of each and
# the ratios. Quarry's figure includes what the others are spared: 280 result pages, a HEAD
# request for every link, and the short and missing files it looks at and drops.
#   bench/harvest_bench.sh [BUILD-DIR]     (default build/main; quarry-cli must be built)
set -euo pipefail
for tool in wget aria2c python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/run installs it)." >&2; exit 1; }
done
source "$(dirname "$0")/search_service.sh"

now() { date +%s.%N; }
rate() { python3 -c "import sys; n, t = float(sys.argv[1]), float(sys.argv[2]); print('%.1f' % (n / t))" "$@"; }

curl -s "http://$host/list?kind=pdf&word=bench&pages=$pages" >"$work/list.txt"
files=$(wc -l <"$work/list.txt")

start=$(now)
"$cli" --home "$work/home" --web-host "$host" --image-host "$host" \
  run --keyword bench --kind pdf --pages "$pages" --threads "$threads" >"$work/quarry.out"
quarry_seconds=$(python3 -c "print($(now) - $start)")
saved=$(find "$work/home/DownData/bench" -type f ! -name 'db.sqlite*' | wc -l)

mkdir -p "$work/wget" "$work/aria2c"
start=$(now)
wget -q -i "$work/list.txt" -P "$work/wget" || true
wget_seconds=$(python3 -c "print($(now) - $start)")
wget_saved=$(find "$work/wget" -type f | wc -l)

start=$(now)
aria2c -q -j6 -i "$work/list.txt" -d "$work/aria2c" --allow-overwrite=true --auto-file-renaming=false || true
aria2c_seconds=$(python3 -c "print($(now) - $start)")
aria2c_saved=$(find "$work/aria2c" -type f ! -name '*.aria2' | wc -l)

quarry_rate=$(rate "$saved" "$quarry_seconds")
wget_rate=$(rate "$wget_saved" "$wget_seconds")
aria2c_rate=$(rate "$aria2c_saved" "$aria2c_seconds")
printf 'files listed:            %d\n' "$files"
printf 'quarry-cli (6 threads):  %5d files in %6.2f s = %8s files/s\n' "$saved" "$quarry_seconds" "$quarry_rate"
printf 'wget -i:                 %5d files in %6.2f s = %8s files/s\n' "$wget_saved" "$wget_seconds" "$wget_rate"
printf 'aria2c -j6 -i:           %5d files in %6.2f s = %8s files/s\n' "$aria2c_saved" "$aria2c_seconds" "$aria2c_rate"
python3 -c "import sys; q, w, a = map(float, sys.argv[1:]); print('quarry / wget = %.2f, quarry / aria2c = %.2f' % (q / w, q / a))" \
  "$quarry_rate" "$wget_rate" "$aria2c_rate"
