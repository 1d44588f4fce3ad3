#!/usr/bin/env bash
# Rounds while the history prunes: one simulated meter at line speed for
# ROUNDS rounds, once on a new history and once on a history that holds a
# simulated day of nine months ago (past the retention of its blocks and
# minutes, so pruning runs while the rounds do). Prints both mean round
# times and their ratio.
#   bench/history/prune_load.sh [BUILD_TREE] [ROUNDS]   (build/native, 40)
set -euo pipefail
cd "$(dirname "$0")/../.."
TREE=${1:-build/native}
ROUNDS=${2:-40}
HOST=$TREE/tools/meter-host/meter-host
MAKE_DAY=$TREE/bench/history/make_day_history
[ -x "$HOST" ] && [ -x "$MAKE_DAY" ] || { echo "prune_load: build $HOST and $MAKE_DAY first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
"$MAKE_DAY" "$WORK/old.db"

# mean HISTORY: the mean round time in ms of a run on that history.
mean() {
  "$HOST" --simulate --line-speed --interval 0 --rounds "$ROUNDS" --history "$1" 2>"$WORK/log" </dev/null
  sed -n 's/.*round time last [0-9]* ms, mean \([0-9]*\) ms.*/\1/p' "$WORK/log"
}

blocks() { "$TREE/tools/meter-history/meter-history" list "$1" | awk '$2 == "blocks" { print $3 }'; }
fresh=$(mean "$WORK/new.db")
before=$(blocks "$WORK/old.db")
pruned=$(mean "$WORK/old.db")
echo "mean round without pruning: $fresh ms"
echo "mean round while pruning:   $pruned ms ($(awk -v a="$fresh" -v b="$pruned" 'BEGIN { printf "%+.1f %%", (b / a - 1) * 100 }'))"
echo "old history: $before blocks before the run, $(blocks "$WORK/old.db") after it"
