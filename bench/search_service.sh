# Sourced by the harvest benchmarks: finds quarry-cli in the build folder given as the first
# argument (default build/main) and starts the local search service with the task they all
# measure: 2,800 results, 10 a page (280 pages), 5 of every 7 results files of 2,000 bytes or
# more. Sets root, cli, results, pages, threads, work (a fresh folder) and host; the service and
# the folder go when the benchmark exits.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/main}
cli=$build/app/quarry-cli
[ -x "$cli" ] || { echo "No $cli: build quarry-cli first." >&2; exit 1; }

results=2800
pages=279
threads=6

work=$(mktemp -d)
port_file=$work/port
python3 "$root/tests/servers/search_service.py" --results "$results" >"$port_file" &
service=$!
trap 'kill "$service" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 300); do
  [ -s "$port_file" ] && break
  sleep 0.1
done
port=$(head -n 1 "$port_file")
host=127.0.0.1:$port
