#!/usr/bin/env bash
# CPU of the whole velmor process relaying 1080p60: the window with its preview (on a private
# Xvfb display) beside the same relay --headless, measured in one run.
#
# For each mode and repetition: velmor-testsrc sends 1920x1080 at 60/1 (UYVY, two tones),
# velmor relays it to velmor-sink; after a warm-up the process's utime+stime from /proc/PID/stat
# is sampled over a fixed window. The modes alternate (window, headless, window, ...), so a
# change in the machine's load touches both; the median of each mode is printed with the load.
#
# Usage: bench/gui/window_cpu.sh [BUILD_DIR] [SECONDS] [REPETITIONS] [WARMUP_SECONDS]
#        (defaults: build 20 3 5). Builds nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build}")
seconds=${2:-20}
reps=${3:-3}
warmup=${4:-5}
velmor="$build/src/app/velmor"
testsrc="$build/tools/velmor-testsrc/velmor-testsrc"
sink="$build/tools/velmor-sink/velmor-sink"
for f in "$velmor" "$testsrc" "$sink"; do
  [ -x "$f" ] || { echo "window_cpu: $f is missing (build it first)" >&2; exit 1; }
done

source scripts/lib/private_display.sh

host=$(hostname | tr '[:lower:]' '[:upper:]')
"$testsrc" --name "Bench" --size 1920x1080 --rate 60/1 --seconds 100000 >"$tmp/testsrc.log" 2>&1 &
pids+=($!)
ticks_per_second=$(getconf CLK_TCK)

# utime + stime of process $1, in clock ticks (fields 14 and 15, counted after the ") " that
# ends the command name).
cpu_ticks() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat")
  awk '{ print $12 + $13 }' <<<"$rest"
}

# One measurement: prints "CPU_PERCENT FRAMES_PER_SECOND" for mode $1 (window or headless).
measure() {
  local mode=$1 args=(--show-local --source "$host (Bench)" --config "$tmp/$1.vlm") pid sinkpid
  [ "$mode" = headless ] && args=(--headless "${args[@]}")
  (cd "$tmp/work" && exec "$velmor" "${args[@]}") >"$tmp/velmor.log" 2>&1 &
  pid=$!
  "$sink" --source "Korvo Velmor 1" --find-timeout 30 >"$tmp/sink.log" 2>&1 &
  sinkpid=$!
  # Relaying once the sink counts frames; then the warm-up.
  for _ in $(seq 600); do grep -q "^stats: [1-9]" "$tmp/sink.log" && break; sleep 0.1; done
  grep -q "^stats: [1-9]" "$tmp/sink.log" || {
    echo "window_cpu: $mode never relayed" >&2; cat "$tmp/velmor.log" "$tmp/sink.log" >&2
    kill "$pid" "$sinkpid" 2>/dev/null; exit 1
  }
  sleep "$warmup"
  local t0 c0 t1 c1 s0
  s0=$(grep -c "^stats:" "$tmp/sink.log")
  t0=$(date +%s.%N); c0=$(cpu_ticks "$pid")
  sleep "$seconds"
  t1=$(date +%s.%N); c1=$(cpu_ticks "$pid")
  # Frames the sink counted in the whole seconds of the window.
  local fps
  fps=$(awk -v from="$s0" '/^stats:/ { n++; if (n > from) { f += $2; k++ } }
                           END { printf "%.1f", k ? f / k : 0 }' "$tmp/sink.log")
  kill -TERM "$pid"; wait "$pid" || true
  kill -TERM "$sinkpid"; wait "$sinkpid" 2>/dev/null || true
  awk -v c="$((c1 - c0))" -v hz="$ticks_per_second" -v t0="$t0" -v t1="$t1" -v fps="$fps" \
    'BEGIN { printf "%.1f %s\n", 100 * c / hz / (t1 - t0), fps }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "relay: 1920x1080 UYVY 60/1, ${seconds} s per sample after ${warmup} s warm-up, ${reps} repetitions"
: >"$tmp/window"; : >"$tmp/headless"
for r in $(seq "$reps"); do
  for mode in window headless; do
    read -r cpu fps < <(measure "$mode")
    echo "$cpu" >>"$tmp/$mode"
    echo "  $mode #$r: ${cpu} % of one CPU, sink ${fps} frames/s"
  done
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
w=$(median <"$tmp/window"); h=$(median <"$tmp/headless")
echo "median: window ${w} %, headless ${h} %, the window costs $(awk -v w="$w" -v h="$h" 'BEGIN { printf "%.1f", w - h }') % of one CPU more"
