#!/usr/bin/env bash
# Whole-harvest benchmark against nginx: a private nginx on 127.0.0.1 (one process, started in
# the foreground as the tests' nginx fixture starts it) serves result pages and the files they
# link to, all generated once into a temporary folder, so the server costs little next to the
# clients. Then, in one run, Quarry (a 6-thread PDF task through quarry-cli), wget -i (one
# kept-alive connection) and aria2c -j6 -i fetch the same files. Prints files per second of
# each and the ratios; compare figures only within one run, as the machine's load swings.
#
# Quarry's figure includes what the others are spared: its result pages (fetched and searched
# for links), a HEAD request for every link, the flushes that let a file and its row outlive
# a power cut (per group of files: the data, the intended rows, the folder and the rows), and
# the checks of each body (its SHA-256, a picture's header): their share of the harvest's time
# is printed from picture_bench's cost of one file, when that benchmark is built.
#   bench/harvest_nginx.sh [--files N] [--size BYTES] [--rounds N] [--serve] [BUILD-DIR]
#     defaults: 2000 files of 20480 bytes, 1 round, build/main (quarry-cli must be built)
#   --serve only starts the server and prints how to harvest from it (for profiling), until
#   Ctrl+C.
# For the harvest served by the Python search service, see bench/harvest_bench.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files=2000
size=20480
rounds=1
serve=0
build=$root/build/main
while (($#)); do
  case $1 in
    --files) files=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --serve) serve=1; shift ;;
    -*) echo "usage: $0 [--files N] [--size BYTES] [--rounds N] [--serve] [BUILD-DIR]" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
cli=$build/app/quarry-cli
nginx=/usr/sbin/nginx
[ -x "$cli" ] || { echo "No $cli: build quarry-cli first." >&2; exit 1; }
# The bench's own tools; the tests need nginx only.
missing=()
[ -x "$nginx" ] || missing+=(nginx-light)
command -v wget >/dev/null || missing+=(wget)
command -v aria2c >/dev/null || missing+=(aria2)
command -v python3 >/dev/null || missing+=(python3)
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

threads=6
per_page=50  # links on a result page
pages=$(((files + per_page - 1) / per_page - 1))  # result pages after the first
((pages >= 1 && pages <= 500)) || { echo "--files must be 100 to 25050" >&2; exit 2; }
step=10  # the document search's page step (pn=10, 20, ...)

work=$(mktemp -d /tmp/quarry-bench-XXXXXX)
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/pages" "$work/www/files" "$work/tmp"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
host=127.0.0.1:$port

# Result pages p.html (the first) and p10.html, p20.html, ...; the list of every file address.
python3 - "$work/www" "$host" "$files" "$per_page" "$pages" "$step" "$size" <<'EOF'
import os, sys
www, host, files, per_page, pages, step, size = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
body = bytes(range(256)) * (size // 256 + 1)
urls = []
for p in range(pages + 1):
    pn = "" if p == 0 else str(p * step)
    rows = []
    for i in range(per_page):
        n = p * per_page + i
        if n >= files:
            break
        name = "f%05d.pdf" % n
        # Each file its own content: Quarry keeps one copy of a content.
        with open(os.path.join(www, "files", name), "wb") as f:
            f.write((b"%%PDF-1.4\n%% file %d\n" % n + body)[:size])
        url = "http://%s/files/%s" % (host, name)
        urls.append(url)
        rows.append('<div class="result"><h3><a href="%s" target="_blank">report %d</a></h3></div>' % (url, n))
    with open(os.path.join(www, "pages", "p%s.html" % pn), "w") as f:
        f.write("<html><head><title>bench</title></head><body>\n%s\n</body></html>\n" % "\n".join(rows))
with open(os.path.join(www, "..", "list.txt"), "w") as f:
    f.write("\n".join(urls) + "\n")
EOF

p=$work/
cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid ${p}nginx.pid;
error_log ${p}error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path ${p}tmp/body;
  proxy_temp_path ${p}tmp/proxy;
  fastcgi_temp_path ${p}tmp/fastcgi;
  uwsgi_temp_path ${p}tmp/uwsgi;
  scgi_temp_path ${p}tmp/scgi;
  types { text/html html; text/plain txt; application/msword doc; application/pdf pdf; }
  default_type application/octet-stream;
  sendfile on;
  keepalive_timeout 5;
  server {
    listen $host;
    root ${p}www;
    location = /s { default_type text/html; try_files /pages/p\$arg_pn.html =404; }
  }
}
EOF
"$nginx" -p "$p" -c "$work/nginx.conf" -e "$work/error.log" >/dev/null 2>"$work/stderr.log" &
nginx_pid=$!
for _ in $(seq 500); do
  curl -s -o /dev/null "http://$host/files/f00000.pdf" && break
  sleep 0.02
done
curl -sf -o /dev/null "http://$host/s?pn=10" || { echo "nginx did not start:" >&2; cat "$work/error.log" >&2; exit 1; }

if ((serve)); then
  echo "nginx serves $files files on $host; addresses in $work/list.txt; a harvest:"
  echo "  $cli --home $work/home-N --web-host $host run --keyword bench --kind pdf --pages $pages --threads $threads"
  echo "Ctrl+C ends it."
  wait "$nginx_pid"
  exit
fi

now() { date +%s.%N; }
since() { python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$1" "$(now)"; }
rate() { python3 -c "import sys; print('%.1f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$@"; }
count_files() { find "$1" -type f "${@:2}" | wc -l; }

echo "harvest_nginx: $files files of $size bytes on $((pages + 1)) result pages, $threads Quarry threads, $rounds round(s)"
wget_ratios=()
aria2c_ratios=()
for round in $(seq "$rounds"); do
  # Fresh folders each round, removed only at the end: ext4 searches longer for a free inode
  # while many were deleted in the last half minute, which would burden whoever runs next.
  out=$work/round$round
  mkdir -p "$out/wget" "$out/aria2c"

  start=$(now)
  "$cli" --home "$out/home" --web-host "$host" --image-host "$host" \
    run --keyword bench --kind pdf --pages "$pages" --threads "$threads" >"$out/quarry.out"
  quarry_seconds=$(since "$start")
  quarry_saved=$(count_files "$out/home/DownData/bench" ! -name 'db.sqlite*')

  start=$(now)
  wget -q -i "$work/list.txt" -P "$out/wget" || true
  wget_seconds=$(since "$start")
  wget_saved=$(count_files "$out/wget")

  start=$(now)
  aria2c -q -j"$threads" -i "$work/list.txt" -d "$out/aria2c" --allow-overwrite=true \
    --auto-file-renaming=false || true
  aria2c_seconds=$(since "$start")
  aria2c_saved=$(count_files "$out/aria2c" ! -name '*.aria2')

  quarry_rate=$(rate "$quarry_saved" "$quarry_seconds")
  wget_rate=$(rate "$wget_saved" "$wget_seconds")
  aria2c_rate=$(rate "$aria2c_saved" "$aria2c_seconds")
  echo "round $round:"
  printf '  quarry-cli (%d threads): %5d files in %6.2f s = %8s files/s\n' "$threads" "$quarry_saved" "$quarry_seconds" "$quarry_rate"
  printf '  wget -i:                %5d files in %6.2f s = %8s files/s\n' "$wget_saved" "$wget_seconds" "$wget_rate"
  printf '  aria2c -j%d -i:          %5d files in %6.2f s = %8s files/s\n' "$threads" "$aria2c_saved" "$aria2c_seconds" "$aria2c_rate"
  ratios=$(python3 -c "import sys; q, w, a = map(float, sys.argv[1:]); print('%.2f %.2f' % (q / w, q / a))" \
    "$quarry_rate" "$wget_rate" "$aria2c_rate")
  read -r to_wget to_aria2c <<<"$ratios"
  echo "  quarry / wget = $to_wget, quarry / aria2c = $to_aria2c"
  wget_ratios+=("$to_wget")
  aria2c_ratios+=("$to_aria2c")
  if [ -x "$build/bench/picture_bench" ]; then
    # CPU seconds of the checks of one file of this size, as a share of the harvest's time.
    per_file=$("$build/bench/picture_bench" --benchmark_filter='BM_InspectFile/0$' \
      --benchmark_format=json 2>/dev/null |
      python3 -c "import json, sys; b = json.load(sys.stdin)['benchmarks'][0]; print(b['cpu_time'] * {'ns': 1e-9, 'us': 1e-6, 'ms': 1e-3}[b['time_unit']])")
    python3 -c "import sys; c, n, t = map(float, sys.argv[1:]); print('  checks of each body (SHA-256, header): %.4f s of %.2f s = %.2f %%' % (c * n, t, 100 * c * n / t))" \
      "$per_file" "$quarry_saved" "$quarry_seconds"
  fi
  if [ "$quarry_saved" -ne "$files" ]; then
    echo "  Quarry saved $quarry_saved of $files files:" >&2
    tail -n 5 "$out/quarry.out" >&2
  fi
done
if ((rounds > 1)); then
  python3 -c "import statistics, sys; n = len(sys.argv) // 2; w, a = sys.argv[1:n + 1], sys.argv[n + 1:]
print('median of %d rounds: quarry / wget = %.2f, quarry / aria2c = %.2f' % (n, statistics.median(map(float, w)), statistics.median(map(float, a))))" \
    "${wget_ratios[@]}" "${aria2c_ratios[@]}"
fi
