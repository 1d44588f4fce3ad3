#!/usr/bin/env bash
# The web view under load: four simulated meters at line speed, once alone
# and once while wrk's 50 connections fetch /metrics and each meter's
# /api/meters/<id> as fast as they can. Prints the cycle time of both runs,
# their ratio, and wrk's requests per second and 99th percentile latency.
#   bench/web/web_load.sh [BUILD_TREE] [SECONDS]   (build/native, 60)
set -euo pipefail
cd "$(dirname "$0")/../.."
TREE=${1:-build/native}
SECONDS_EACH=${2:-60}
HOST=$TREE/tools/meter-host/meter-host
PORT=18080
[ -x "$HOST" ] || { echo "web_load: build $HOST first" >&2; exit 2; }
command -v wrk >/dev/null || { echo "web_load: wrk is missing (scripts/setup.sh test)" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cat >"$WORK/paths.lua" <<'LUA'
local paths = {"/metrics", "/api/meters/1", "/api/meters/2", "/api/meters/3", "/api/meters/4"}
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", paths[(n % #paths) + 1])
end
LUA

# run NAME [wrk]: meter-host for SECONDS_EACH; prints its cycle time in ms.
run() {
  local log=$WORK/$1.log
  "$HOST" --simulate --meter 1 --meter 2 --meter 3 --meter 4 --line-speed --interval 0 \
    --http 127.0.0.1:$PORT 2>"$log" </dev/null &
  local pid=$!
  until grep -q "round 1 completed" "$log"; do sleep 0.2; done
  if [ "${2:-}" = wrk ]; then
    wrk -t2 -c50 -d"${SECONDS_EACH}s" --latency -s "$WORK/paths.lua" "http://127.0.0.1:$PORT" >"$WORK/wrk.txt"
  else
    sleep "$SECONDS_EACH"
  fi
  kill -INT "$pid"; wait "$pid" || true
  # A cycle is one round of each meter: the sum of their mean round times.
  awk '/round time last/ { sub(/.*mean /, ""); sum += $1 } END { printf "%.1f\n", sum }' "$log"

}

alone=$(run alone)
loaded=$(run loaded wrk)
echo "cycle time without clients: $alone ms"
echo "cycle time with 50 clients: $loaded ms ($(awk -v a="$alone" -v b="$loaded" 'BEGIN { printf "%+.1f %%", (b / a - 1) * 100 }'))"
echo "requests per second: $(awk '/Requests\/sec/ { print $2 }' "$WORK/wrk.txt")"
echo "99th percentile latency: $(awk '$1 == "99%" { print $2 }' "$WORK/wrk.txt")"
