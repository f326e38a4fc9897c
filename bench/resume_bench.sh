#!/usr/bin/env bash
# Resume benchmark: Quarry harvests a PDF task of 2,000 files from the local search service
# with 6 threads, once from start to end, and once killed with SIGKILL when half of the files
# are recorded and then finished with `quarry-cli resume`. Prints both times, their ratio, and
# checks that the resumed task's records hold every listed address exactly once.
#   bench/resume_bench.sh [BUILD-DIR]     (default build/main; quarry-cli must be built)
set -euo pipefail
source "$(dirname "$0")/search_service.sh"
curl -s "http://$host/list?kind=pdf&word=bench&pages=$pages" >"$work/list.txt"
files=$(wc -l <"$work/list.txt")

now() { date +%s.%N; }
cli_in() { "$cli" --home "$1" --web-host "$host" --image-host "$host" "${@:2}"; }

start=$(now)
cli_in "$work/fresh" run --keyword bench --kind pdf --pages "$pages" --threads "$threads" >/dev/null
fresh_seconds=$(python3 -c "print($(now) - $start)")

# Started and watched from one Python process: it polls the record count every 10 ms and
# kills quarry-cli itself once half of the files are recorded.
database=$work/killed/DownData/bench/db.sqlite
read -r killed_seconds at_kill < <(python3 - "$cli" "$work/killed" "$host" "$pages" "$threads" \
  "$database" $((files / 2)) <<'PY'
import signal, sqlite3, subprocess, sys, time
cli, home, host, pages, threads, database, half = sys.argv[1:]
started = time.monotonic()
harvest = subprocess.Popen([cli, "--home", home, "--web-host", host, "--image-host", host, "run",
                            "--keyword", "bench", "--kind", "pdf", "--pages", pages,
                            "--threads", threads], stdout=subprocess.DEVNULL)
def rows():
    try:
        db = sqlite3.connect("file:%s?mode=ro" % database, uri=True)
        try:
            return db.execute("SELECT count(*) FROM filename").fetchone()[0]
        finally:
            db.close()
    except sqlite3.Error:
        return 0
while rows() < int(half) and harvest.poll() is None:
    time.sleep(0.01)
harvest.send_signal(signal.SIGKILL)
harvest.wait()
print("%.2f %d" % (time.monotonic() - started, rows()))
PY
)

start=$(now)
cli_in "$work/killed" resume >/dev/null
resume_seconds=$(python3 -c "print($(now) - $start)")

python3 - "$database" "$work/list.txt" <<'PY'
import sqlite3, sys
urls = [row[0] for row in sqlite3.connect(sys.argv[1]).execute("SELECT url FROM filename")]
listed = open(sys.argv[2]).read().split()
print("records after resume:   %d (%d distinct, %d listed)" % (len(urls), len(set(urls)), len(listed)))
if sorted(urls) != sorted(listed):
    sys.exit("the records are not the listed addresses, each once")
PY
printf 'files listed:           %d\n' "$files"
printf 'fresh run:              %6.2f s\n' "$fresh_seconds"
printf 'killed after:           %6.2f s with %d files recorded\n' "$killed_seconds" "$at_kill"
printf 'resume:                 %6.2f s\n' "$resume_seconds"
python3 -c "import sys; print('resume / fresh = %.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" \
  "$resume_seconds" "$fresh_seconds"
