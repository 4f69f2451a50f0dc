#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 30), two at a
# time, seeded from the test fixtures. Fails on any crash, leak or sanitizer
# report. Usage: scripts/run-fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
status=0
run_one() {
  local t=$1 family=${1%_fuzz}
  local corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus" build-fuzz/artifacts
  for seed in fuzz/seeds/$family/* ; do [[ -f $seed ]] && cp -n "$seed" "$corpus/" ; done
  local dict=()
  [[ -f fuzz/$family.dict ]] && dict=(-dict="fuzz/$family.dict")
  if build-fuzz/fuzz/"$t" "$corpus" "${dict[@]}" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
       -artifact_prefix=build-fuzz/artifacts/"$t"- -print_final_stats=1 > build-fuzz/"$t".log 2>&1; then
    echo "$t: $(grep -E 'stat::number_of_executed_units' build-fuzz/"$t".log | awk '{print $2}') runs, $(grep -oE 'cov: [0-9]+' build-fuzz/"$t".log | tail -1), no faults"
  else
    echo "$t: FAILED, see build-fuzz/$t.log"; tail -30 build-fuzz/"$t".log
    return 1
  fi
}
pids=()
for t in "${targets[@]}"; do
  run_one "$t" & pids+=($!)
  if ((${#pids[@]} >= 2)); then wait "${pids[0]}" || status=1; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
