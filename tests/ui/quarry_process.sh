#!/usr/bin/env bash
# The program as a process, offscreen. A second copy on the same home refuses to start with a
# clear message while the first keeps running. SIGTERM, SIGHUP and SIGINT close the window as
# the exit command does: status 0, the layout in sys/quarry.ini and the task files rewritten.
#   quarry_process.sh QUARRY QUARRY_CLI
set -u -m  # job control: copies started in the background do not ignore SIGINT
quarry=$1
home=$(mktemp -d)
first=
trap '[ -n "$first" ] && kill "$first" 2>/dev/null; rm -rf "$home"' EXIT
# A finished task, so that shutting down has a task file to write. The host refuses every
# connection, so the run ends at once and, having got no result page, fails with status 1.
"$2" --home "$home" --web-host 127.0.0.1:1 --image-host 127.0.0.1:1 \
  run --keyword done --pages 1 --threads 1 >/dev/null 2>&1
[ $? -eq 1 ] || { echo "quarry-cli did not fail as a run without result pages"; exit 1; }

start() {
  rm -f "$home/sys/quarry.ini"
  touch -d @0 "$home/sys/finished.tsk"
  "$quarry" --home "$home" &
  first=$!
  # Ready once it catches SIGHUP, SIGINT and SIGTERM (bits 0, 1 and 14 of SigCgt): it sets
  # those handlers after building its window, which takes a while on a busy machine.
  local caught
  for _ in $(seq 300); do
    caught=$(awk '/^SigCgt:/ { print $2 }' "/proc/$first/status" 2>/dev/null || true)
    [ -n "$caught" ] && (((16#$caught & 0x4003) == 0x4003)) && break
    sleep 0.1
  done
  sleep 0.2
}

# Sends signal $1 to the running copy; it must end by itself, soon and cleanly.
close_with() {
  kill "-$1" "$first"
  for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$first" 2>/dev/null; then
    echo "SIG$1 did not end quarry"
    exit 1
  fi
  wait "$first"
  local status=$?
  first=
  [ "$status" -eq 0 ] || { echo "SIG$1: exit status $status"; exit 1; }
  grep -q '^\[CommandBars\]' "$home/sys/quarry.ini" ||
    { echo "SIG$1: no CommandBars section in quarry.ini"; exit 1; }
  [ "$(stat -c %Y "$home/sys/finished.tsk")" -gt 0 ] ||
    { echo "SIG$1: finished.tsk not rewritten"; exit 1; }
  echo "SIG$1 closed quarry cleanly"
}

start
output=$("$quarry" --home "$home" 2>&1)
status=$?
if [ "$status" -eq 0 ] || ! grep -q "另一个 Quarry 正在使用主文件夹" <<<"$output"; then
  echo "second copy was not refused (status $status): $output"
  exit 1
fi
kill -0 "$first" || { echo "first copy died"; exit 1; }
echo "second copy refused: $output"
close_with TERM
for signal in HUP INT; do
  start
  close_with "$signal"
done
