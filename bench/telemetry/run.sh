#!/usr/bin/env bash
# What meter-host sends to an MQTT broker, against a local mosquitto (plain
# MQTT, anonymous, 127.0.0.1, a free port) started in a temporary folder.
# One simulated meter at --interval 1; prints one line per figure:
#   1. bytes per meter per day at the defaults: 30 rounds at --mqtt-every 0,
#      with the shipped site's configuration (samples/real-meter.json), give
#      the bytes of a state message (the client's count at the exit, less
#      what the subscriber saw of the other messages); a day is 1440 of
#      them, one start's status and meta, and that run's alarm changes
#      scaled to a day; then what the alarm changes of samples/mode5.json
#      (thresholds within the simulated meter's swing) would add;
#   2. alarm latency at the defaults (--history-commit 10): from the log
#      line "alarm raised", stamped as it is read, to the alarm message at
#      a subscriber, stamped on receipt, over 60 s;
#   3. the drain of 24 h of outbox: a history whose outbox holds a state
#      message a minute for a day and a few alarms (make_day_outbox, from
#      the first run's blocks), from meter-host's start until the
#      subscriber holds every number, in order.
#   bench/telemetry/run.sh [BUILD_TREE]   (build/native)
set -euo pipefail
export LC_ALL=C  # a decimal point in $EPOCHREALTIME and awk
cd "$(dirname "$0")/../.."
SRC=$PWD
TREE=$(cd "${1:-build/native}" && pwd)
HOST=$TREE/tools/meter-host/meter-host
SUB=$TREE/bench/telemetry/stamp_sub
MAKE_OUTBOX=$TREE/bench/telemetry/make_day_outbox
BROKER_BIN=/usr/sbin/mosquitto
for f in "$HOST" "$SUB" "$MAKE_OUTBOX"; do
  [ -x "$f" ] || { echo "telemetry bench: build $f first (cmake --build $TREE --target meter-host meter-sim kvrm4410t_q make_day_outbox stamp_sub)" >&2; exit 2; }
done
[ -x "$BROKER_BIN" ] || { echo "telemetry bench: mosquitto is missing (scripts/setup.sh test)" >&2; exit 2; }

ROUNDS=30         # figure 1
LATENCY_RUN=60    # figure 2, seconds
DRAIN_LIMIT=300   # figure 3 gives up at its goal
COMMIT=10         # meter-host's default --history-commit

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
# Reaped: its number may be reused, so no longer ours to end.
forget() {
  local p keep=()
  for p in "${PIDS[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
  PIDS=("${keep[@]}")
}
cd "$WORK"

die() { echo "telemetry bench: $*" >&2; exit 1; }
note() { echo "telemetry bench: $*" >&2; }

# The port is picked at random and tried: mosquitto ends at once when it
# is taken.
start_broker() {
  local try
  for try in 1 2 3 4 5 6 7 8; do
    PORT=$((20000 + RANDOM % 40000))
    printf '%s\n' "listener $PORT 127.0.0.1" "allow_anonymous true" "persistence false" \
      "max_queued_messages 0" "log_dest stderr" >broker.conf
    "$BROKER_BIN" -c broker.conf 2>broker.log &
    BROKER=$!
    PIDS+=("$BROKER")
    for _ in $(seq 50); do
      grep -q ' running$' broker.log && return 0
      kill -0 "$BROKER" 2>/dev/null || break
      sleep 0.1
    done
    kill "$BROKER" 2>/dev/null || true
    wait "$BROKER" 2>/dev/null || true
    forget "$BROKER"
  done
  die "no broker would start: $(tail -1 broker.log)"
}

# Each line of standard input behind the wall clock at which it was read.
stamp() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}

# subscribe NAME PREFIX [UNTIL_SEQ]: a subscriber to PREFIX/#, its lines in
# NAME.sub; returns once the broker has its subscription. SUB_PID.
subscribe() {
  : >"$1.sub"
  "$SUB" 127.0.0.1 "$PORT" "$2/#" ${3:+"$3"} >>"$1.sub" &
  SUB_PID=$!
  PIDS+=("$SUB_PID")
  until grep -q '^subscribed$' "$1.sub"; do
    kill -0 "$SUB_PID" 2>/dev/null || die "the subscriber ended"
    sleep 0.05
  done
}

# host NAME ARGS...: meter-host on the broker, its log stamped into
# NAME.log. HOST_PID, STAMP_PID.
host() {
  local name=$1
  shift
  mkfifo "$name.fifo"
  stamp <"$name.fifo" >"$name.log" &
  STAMP_PID=$!
  PIDS+=("$STAMP_PID")
  "$HOST" --simulate --config "$SRC/samples/${CONFIG:-mode5.json}" --interval 1 --mqtt "mqtt://127.0.0.1:$PORT" \
    --mqtt-client-id "bench-$name" "$@" </dev/null >/dev/null 2>"$name.fifo" &
  HOST_PID=$!
  PIDS+=("$HOST_PID")
}

# Waits for meter-host's end (after a SIGTERM, or its rounds) and its log.
host_ended() {
  local name=$1
  wait "$HOST_PID" || die "meter-host ($name) failed; its log ends: $(tail -3 "$name.log")"
  wait "$STAMP_PID" || true
  forget "$HOST_PID"
  forget "$STAMP_PID"
  grep -q 'mqtt: stopped' "$name.log" || die "meter-host ($name) printed no mqtt line"
}

# Ends the subscriber once what the host said last has reached it.
subscriber_ended() {
  sleep 0.5
  kill "$SUB_PID" 2>/dev/null || true
  wait "$SUB_PID" 2>/dev/null || true
  forget "$SUB_PID"
}

start_broker
note "broker on 127.0.0.1:$PORT"

# 1. Every round's state, for the size of one.
note "$ROUNDS rounds with a state message each"
# The default prefix: its length counts in every message.
subscribe f1 "kvrm4410t/$(uname -n)"
CONFIG=real-meter.json host f1 --rounds "$ROUNDS" --mqtt-every 0 --history "$WORK/f1.db"
host_ended f1
subscriber_ended

# 2. The defaults, for the alarms' latency.
note "${LATENCY_RUN} s at the defaults"
subscribe f2 f2
host f2 --mqtt-prefix f2 --history "$WORK/f2.db"
sleep "$LATENCY_RUN"
f2_stop=$EPOCHREALTIME
kill -TERM "$HOST_PID"
host_ended f2
subscriber_ended

# 3. A day's outbox, sent from the start.
read -r day_messages day_bytes < <("$MAKE_OUTBOX" "$WORK/f1.db" "$WORK/day.db")
note "draining $day_messages messages ($day_bytes bytes)"
subscribe f3 f3 "$day_messages"
f3_start=$EPOCHREALTIME
host f3 --mqtt-prefix f3 --history "$WORK/day.db"
drained=0
while kill -0 "$SUB_PID" 2>/dev/null; do
  awk -v s="$f3_start" -v now="$EPOCHREALTIME" -v limit="$DRAIN_LIMIT" 'BEGIN { exit !(now - s > limit) }' && break
  sleep 0.1
done
if ! kill -0 "$SUB_PID" 2>/dev/null; then
  wait "$SUB_PID" && drained=1
else
  kill "$SUB_PID" 2>/dev/null || true
  wait "$SUB_PID" 2>/dev/null || true
fi
forget "$SUB_PID"
kill -TERM "$HOST_PID"
host_ended f3

# Figure 1. The client's count: "N sent (B bytes)" at the exit.
read -r f1_sent f1_bytes < <(sed -n 's/.*mqtt: stopped;.*; \([0-9]*\) sent (\([0-9]*\) bytes).*/\1 \2/p' f1.log)
# Alarm changes per second of a run's rounds; the rounds span (the last
# round - the first) * n / (n - 1).
alarm_rate() {
  awk '
    / round [0-9]+ completed in / { if (n++ == 0) first = $1; last = $1 }
    / alarm (raised|cleared): / { changes++ }
    END { span = n > 1 ? (last - first) * n / (n - 1) : 1; printf "%.6f %d %.1f\n", changes / span, changes, span }
  ' "$1"
}
read -r per_second alarm_changes alarm_span < <(alarm_rate f1.log)
read -r flap_per_second flap_changes flap_span < <(alarm_rate f2.log)
line1=$(awk -v sent="$f1_sent" -v bytes="$f1_bytes" -v rate="$per_second" -v changes="$alarm_changes" -v span="$alarm_span" \
  -v flap="$flap_per_second" -v flapChanges="$flap_changes" -v flapSpan="$flap_span" '
  function grouped(n,   s, out) {
    s = sprintf("%d", n)
    while (length(s) > 3) { out = "," substr(s, length(s) - 2) out; s = substr(s, 1, length(s) - 3) }
    return s out
  }
  $1 == "subscribed" { next }
  FILENAME == "f1.sub" && $2 ~ /\/state$/ { states++; next }
  FILENAME == "f1.sub" { other += $3; messages += ($2 !~ /\/status$/) }
  $2 ~ /\/alarm$/ { alarms++; alarmBytes += $3; if (FILENAME == "f1.sub") f1alarms += $3 }
  END {
    if (states == 0) { print "no state message reached the subscriber"; exit 1 }
    state = (bytes - other) / states
    start = other - f1alarms                  # status and meta: once a start
    alarm = alarms ? alarmBytes / alarms : 0
    perDay = rate * 86400
    day = 1440 * state + start + perDay * alarm
    printf "bytes per meter per day: %.1f MB (goal <= 12 MB); state message %s B", day / 1e6, grouped(state + 0.5)
    printf "; 1440 states %.2f MB + %s alarm changes %.2f MB (%d in %.0f s of rounds, %s B each) + a start %s B",
      1440 * state / 1e6, grouped(perDay + 0.5), perDay * alarm / 1e6, changes, span, grouped(alarm + 0.5), grouped(start)
    if (messages + states != sent) printf " [the client counted %d messages, the subscriber %d]", sent, messages + states
    printf "\n"
    printf "with the thresholds of samples/mode5.json the simulated meter sets alarms flipping: %d changes in %.0f s, %.1f MB a day more\n",
      flapChanges, flapSpan, flap * 86400 * alarm / 1e6
  }' f1.sub f2.sub) || die "figure 1: $line1"

# Figure 2. The k-th raise of an alarm id in the log against its k-th
# message; one raised after the last commit before the stop stays in the
# outbox (sent at the next start).
line2=$(awk -v stop="$f2_stop" -v commit="$COMMIT" '
  FILENAME == "f2.log" && / alarm (raised|cleared): / {
    for (i = 2; i <= NF; i++) if ($i == "raised:" || $i == "cleared:") break
    kind = ($i == "raised:") ? "raised" : "cleared"
    key = kind " " $(i + 1)
    logged[key, ++nlog[key]] = $1
    keys[key] = 1
    next
  }
  FILENAME == "f2.sub" && $2 ~ /\/alarm$/ { key = $6 " " $5; got[key, ++nsub[key]] = $1 }
  END {
    for (key in keys) {
      split(key, part, " ")
      for (k = 1; k <= nlog[key]; k++) {
        if ((key, k) in got) {
          d = got[key, k] - logged[key, k]
          n[part[1]]++; sum[part[1]] += d; if (d > worst[part[1]]) worst[part[1]] = d
        } else if (stop - logged[key, k] > commit + 1) missing[part[1]]++
        else left[part[1]]++
      }
    }
    if (!n["raised"]) { print "alarm latency: no alarm raised and sent in the run (goal <= 11 s)"; exit }
    printf "alarm latency: worst %.2f s, mean %.2f s over %d alarms raised (goal <= %d s)", worst["raised"], sum["raised"] / n["raised"], n["raised"], commit + 1
    if (n["cleared"]) printf "; cleared: worst %.2f s, mean %.2f s over %d", worst["cleared"], sum["cleared"] / n["cleared"], n["cleared"]
    if (missing["raised"] + missing["cleared"]) printf "; %d NEVER SENT", missing["raised"] + missing["cleared"]
    if (left["raised"] + left["cleared"]) printf "; %d of the last %d s left for the next start", left["raised"] + left["cleared"], commit
    printf "\n"
  }' f2.log f2.sub)

# Figure 3. The first arrival of each number; any number not above the one
# before it is out of order (a repeat included).
connected=$(awk '/mqtt: connected to/ { print $1; exit }' f3.log)
line3=$(awk -v start="$f3_start" -v connected="${connected:-0}" -v want="$day_messages" -v drained="$drained" -v bytes="$day_bytes" -v limit="$DRAIN_LIMIT" '
  $1 == "subscribed" || $4 == "-" || $4 > want { next }
  { if ($4 + 0 <= last) disorder++; last = $4 + 0; if (!seen[$4]++ && ++held == want) done = $1 }
  END {
    if (!drained) { printf "drain of 24 h of outbox: NOT DONE in %d s: %d of %d messages (goal <= 300 s)\n", limit, held, want; exit }
    s = done - start
    printf "drain of 24 h of outbox: %.1f s for %d messages (%.1f MB), %.0f messages/s, %s (goal <= 300 s, in order)",
      s, want, bytes / 1e6, want / s, disorder ? disorder " out of order" : "in order"
    if (connected > 0) printf "; connected %.2f s after the start", connected - start
    printf "\n"
  }' f3.sub)

echo "$line1"
echo "$line2"
echo "$line3"
