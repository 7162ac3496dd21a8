#!/usr/bin/env bash
# Runs every libFuzzer target for RUNS executions (10 million by default) at the lowest priority,
# each from a copy of its stored corpus, and prints one summary line per target. Not part of CI
# (CI replays the corpus and runs the targets briefly). Build the targets first:
#   cmake --preset fuzz && cmake --build build-fuzz --target velmor_fuzzers
# Usage: scripts/fuzz_long.sh [BUILD_DIR] [RUNS] [TARGET...]
# LANES=2 runs two targets at a time (one per processor).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
runs=${2:-10000000}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" _fuzz.cpp)"); done
fi
work=$(mktemp -d /tmp/velmor-fuzz-XXXXXX)
lanes=${LANES:-1}
# Inputs longer than a target reads only slow it down: the bus target takes 17 bytes a message,
# and discovery texts (names and groups) are short.
declare -A max_len=([bus_message]=512 [metadata]=2048 [ndi_discovery]=1024)
run_one() {
  local t=$1
  mkdir -p "$work/$t/corpus" "$work/$t/crashes"
  cp -r "$root/fuzz/corpus/$t/." "$work/$t/corpus/" 2>/dev/null
  local start=$(date +%s) extra=()
  [ -n "${max_len[$t]:-}" ] && extra=(-max_len="${max_len[$t]}")
  nice -n 19 "$build/fuzz/${t}_fuzz" -runs="$runs" -print_final_stats=1 "${extra[@]}" \
    -artifact_prefix="$work/$t/crashes/" "$work/$t/corpus" > "$work/$t/log" 2>&1
  local rc=$?
  local secs=$(( $(date +%s) - start ))
  local done_runs=$(grep -oE 'Done [0-9]+ runs' "$work/$t/log" | grep -oE '[0-9]+' | tail -1)
  # Crashes, leaks, timeouts and out-of-memory inputs; a slow unit (one run over 10 s, which a
  # suspended or starved process also produces) is listed apart and replayed to show its time.
  local crashes=$(find "$work/$t/crashes" -type f ! -name 'slow-unit-*' | wc -l)
  local slow=$(find "$work/$t/crashes" -type f -name 'slow-unit-*' | wc -l)
  echo "$t: exit $rc, ${done_runs:-?} runs in ${secs} s, $crashes crash files, $slow slow units, corpus $(ls "$work/$t/corpus" | wc -l) inputs" > "$work/$t/summary"
}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$lanes" ]; do sleep 1; done
  run_one "$t" &
done
wait
status=0
for t in "${targets[@]}"; do
  cat "$work/$t/summary"
  grep -q "exit 0," "$work/$t/summary" && grep -q " 0 crash files" "$work/$t/summary" || status=1
done
echo "logs and artifacts: $work"
exit $status
