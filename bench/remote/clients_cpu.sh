#!/usr/bin/env bash
# CPU of the whole velmor process relaying 1080p60 with its HTTP front end on, with no clients
# beside twenty clients of the events socket and twenty of the preview (five pictures a second
# each), measured in one run; the sink's frame rate and its largest gap between frames show
# whether the output paid for them.
#
# For each mode and repetition: velmor-testsrc sends 1920x1080 at 60/1 (UYVY, two swelling tones,
# so the meter's levels change and go out twenty times a second),
# `velmor --headless --http 127.0.0.1:0` relays it to velmor-sink; after a warm-up the process's
# utime+stime from /proc/PID/stat is sampled over a fixed window, with the clients running (or
# not) for the whole window. The modes alternate, so a change in the machine's load touches both;
# the median of each is printed, beside the time a memcpy of one 1080p UYVY frame takes here.
#
# Usage: bench/remote/clients_cpu.sh [BUILD_DIR] [SECONDS] [REPETITIONS] [WARMUP_SECONDS]
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
clients="$build/bench/remote/velmor_remote_clients"
for f in "$velmor" "$testsrc" "$sink" "$clients"; do
  [ -x "$f" ] || { echo "clients_cpu: $f is missing (build it first)" >&2; exit 1; }
done

tmp=$(mktemp -d /tmp/velmor-remote-bench.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
export VELMOR_NDI_DIR=$tmp/ndi XDG_RUNTIME_DIR=$tmp/run DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/no-bus
mkdir -p "$tmp/run" "$tmp/work" && chmod 700 "$tmp/run"

host=$(hostname | tr '[:lower:]' '[:upper:]')
"$testsrc" --name "Bench" --size 1920x1080 --rate 60/1 --seconds 100000 --tone-swell >"$tmp/testsrc.log" 2>&1 &
pids+=($!)
ticks_per_second=$(getconf CLK_TCK)

cpu_ticks() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat")
  awk '{ print $12 + $13 }' <<<"$rest"
}

# One measurement: prints "CPU_PERCENT FRAMES_PER_SECOND LARGEST_GAP_MS" for mode $1 (none or
# clients).
measure() {
  local mode=$1 pid sinkpid port
  (cd "$tmp/work" && exec "$velmor" --headless --http 127.0.0.1:0 --show-local \
     --source "$host (Bench)" --config "$tmp/bench.vlm") >"$tmp/velmor.log" 2>&1 &
  pid=$!
  "$sink" --source "Korvo Velmor 1" --find-timeout 30 --delay-log "$tmp/delay.log" \
    >"$tmp/sink.log" 2>&1 &
  sinkpid=$!
  for _ in $(seq 600); do grep -q "^stats: [1-9]" "$tmp/sink.log" && break; sleep 0.1; done
  grep -q "^stats: [1-9]" "$tmp/sink.log" || {
    echo "clients_cpu: $mode never relayed" >&2; cat "$tmp/velmor.log" "$tmp/sink.log" >&2
    kill "$pid" "$sinkpid" 2>/dev/null; exit 1
  }
  port=$(sed -n 's|.*HTTP control page: http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/velmor.log")
  sleep "$warmup"
  local load=""
  if [ "$mode" = clients ]; then
    # The clients stand for other machines: they yield to the relay, source and sink here.
    nice -n 10 "$clients" --port "$port" --token-file "$tmp/run/velmor/http-token-1" --events 20 \
      --previews 20 --rate 5 --seconds $((seconds + 2)) >"$tmp/clients.log" 2>&1 &
    load=$!
    sleep 1
  fi
  local t0 c0 t1 c1 s0 a0 a1
  s0=$(grep -c "^stats:" "$tmp/sink.log")
  a0=$(date +%s%N)
  t0=$(date +%s.%N); c0=$(cpu_ticks "$pid")
  sleep "$seconds"
  t1=$(date +%s.%N); c1=$(cpu_ticks "$pid")
  a1=$(date +%s%N)
  [ -n "$load" ] && { wait "$load" || true; sed 's/^/    /' "$tmp/clients.log" >&2; }
  local fps gap
  fps=$(awk -v from="$s0" '/^stats:/ { n++; if (n > from) { f += $2; k++ } }
                           END { printf "%.1f", k ? f / k : 0 }' "$tmp/sink.log")
  # The largest time between two video frames that arrived in the window (100 ns units).
  gap=$(awk -v a0="$((a0 / 100))" -v a1="$((a1 / 100))" '$1 == "V" && $3 >= a0 && $3 < a1 {
          if (last) { d = $3 - last; if (d > g) g = d } last = $3 }
        END { printf "%.1f", g / 10000 }' "$tmp/delay.log")
  kill -TERM "$pid"; wait "$pid" || true
  kill -TERM "$sinkpid"; wait "$sinkpid" 2>/dev/null || true
  awk -v c="$((c1 - c0))" -v hz="$ticks_per_second" -v t0="$t0" -v t1="$t1" -v fps="$fps" \
    -v gap="$gap" 'BEGIN { printf "%.1f %s %s\n", 100 * c / hz / (t1 - t0), fps, gap }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "relay: 1920x1080 UYVY 60/1, ${seconds} s per sample after ${warmup} s warm-up, ${reps} repetitions"
"$clients" --memcpy $((1920 * 1080 * 2))
: >"$tmp/none"; : >"$tmp/clients"
for r in $(seq "$reps"); do
  for mode in none clients; do
    read -r cpu fps gap < <(measure "$mode")
    echo "$cpu" >>"$tmp/$mode"
    echo "  $mode #$r: ${cpu} % of one CPU, sink ${fps} frames/s, largest gap ${gap} ms"
  done
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
n=$(median <"$tmp/none"); c=$(median <"$tmp/clients")
echo "median: no clients ${n} %, 40 clients ${c} %, the clients cost $(awk -v n="$n" -v c="$c" 'BEGIN { printf "%.1f", c - n }') % of one CPU"
