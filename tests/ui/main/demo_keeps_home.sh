#!/usr/bin/env bash
# The demo end to end, run by a user whose home already holds a log of its
# own: the screenshot run must connect its four units and receive the
# BroxL-D3's uploaded log (in the demo's own home), and neither it nor
# the interactive demo (the real program, started and closed here) may touch
# that file.
#
#   demo_keeps_home.sh <scripts/demo> <build-folder>
set -euo pipefail
demo=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
marker="the user's own log, not the demo's"
printf '%s\n' "$marker" >"$home/Quil.log"

check_log() { # <after what>
  if [[ "$(cat "$home/Quil.log" 2>/dev/null)" != "$marker" ]]; then
    echo "the user's ~/Quil.log was changed or removed by $1" >&2
    exit 1
  fi
}

status=0
HOME="$home" bash "$demo" --screenshot --no-build "$build" || status=$?
# 2: no network namespaces here, the test is skipped.
[[ $status -eq 2 ]] && exit 2
check_log "the screenshot demo"
[[ $status -eq 0 ]] || exit "$status"

# The interactive demo on a virtual display: wait for the program among the
# demo's own processes, give it time to start, then close it.
program="$build/app/quillon/quillon"
HOME="$home" xvfb-run -a -s "-screen 0 1280x1024x24" bash "$demo" --no-build "$build" >/dev/null 2>&1 &
runner=$!
descendants() { # <pid>: every process below it
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    descendants "$child"
  done
}
found=""
for _ in $(seq 300); do
  for pid in $(descendants "$runner"); do
    if [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$(readlink -f "$program")" ]]; then
      found=$pid
    fi
  done
  [[ -n "$found" ]] && break
  sleep 0.1
done
if [[ -z "$found" ]]; then
  kill "$runner" 2>/dev/null || true
  wait "$runner" 2>/dev/null || true
  echo "the interactive demo did not start the program" >&2
  exit 1
fi
sleep 3
kill "$found"
wait "$runner" || true
check_log "the interactive demo"
