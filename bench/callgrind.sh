#!/usr/bin/env bash
# Instruction counts of the driver's hot paths under callgrind (stable on a
# busy machine, unlike times), each beside its reference from the same run.
#   bench/callgrind.sh [BUILD_DIR]   (default build/native; needs bench_instructions)
set -euo pipefail
build=${1:-build/native}
prog=$build/bench/bench_instructions
[ -x "$prog" ] || { echo "build $prog first: cmake --build $build --target bench_instructions" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/cg.%p" "$prog" >/dev/null 2>"$out/log" ||
  { cat "$out/log" >&2; exit 1; }

# One line per dump: scenario, instructions per run.
for f in "$out"/cg.*; do
  desc=$(sed -n 's/^desc: Trigger: Client Request: //p' "$f")
  [ -n "$desc" ] || continue
  total=$(sed -n 's/^summary: \([0-9]*\).*/\1/p' "$f")
  set -- $desc
  echo "$1 $(( total / $2 ))"
done | sort >"$out/counts"

awk '
  { n[$1] = $2 }
  # A count as a multiple of its reference, against the goal for it.
  function row(what, v, ref, refname, goal, label,   ratio, ok) {
    ratio = v / ref
    ok = ratio <= goal
    printf "%-38s %9d instr = %7.4f x %-20s goal <= %-5s %s\n", what, v, ratio, refname, label, ok ? "ok" : "MISSED"
    if (!ok) missed = 1
  }
  END {
    printf "%-38s %9d instr\n", "memcpy of 904 bytes", n["memcpy_904"]
    row("driver step per polled reply", n["polled_reply"], n["memcpy_904"], "memcpy 904", 3, "3")
    printf "%-38s %9d instr   goal <= 150000 %s\n", "mode-5 round (20 signals x 2)", n["round_mode5"], \
      n["round_mode5"] <= 150000 ? "ok" : "MISSED"
    if (n["round_mode5"] > 150000) missed = 1
    printf "%-38s %9d instr   (for reference)\n", "mode-1 round (20 point signals)", n["round_mode1"]
    printf "%-38s %9d instr   (for reference)\n", "mode-3 round", n["round_mode3"]
    printf "%-38s %9d instr\n", "rebuild + fresh FastWriter", n["rebuild_and_fresh_writer"]
    ref = n["rebuild_and_fresh_writer"]
    row("801 after a mode-5 round", n["text_after_round_mode5"], ref, "rebuild+FastWriter", 0.25, "1/4")
    row("801 after a mode-3 round (rebuilds)", n["text_after_round_mode3"], ref, "rebuild+FastWriter", 0.25, "1/4")
    row("801 with no new round", n["text_again"], ref, "rebuild+FastWriter", 0.02, "1/50")
    exit missed
  }' "$out/counts"
