#!/usr/bin/env bash
# The many-copies measurement of docs/benchmarks.md: one velmor-testsrc at 1080p60 UYVY, N
# `velmor --headless` relay copies of it, and one velmor-sink on each copy's main output, all on
# this machine, each in its own process. After everything runs, each sink counts the frames it
# gets in 20 whole seconds (1200 at 60p); the CPU each process used in those 20 s is read from
# /proc.
#
#   bench/copies/run_copies.sh BUILD_DIR COPIES on|off [tcp]
#
# "on" loads a configuration with "Blend fields" (the source then sends interlaced frames), the
# proc amp applied to the output and "Rotate 90", and switches the PPM overlay on. "tcp" sets
# VELMOR_NDI_TCP=1 for every process. Needs velmor, velmor-testsrc, velmor-sink and
# velmor_copies_config built in BUILD_DIR (the last with -DVELMOR_BENCH=ON).
set -euo pipefail
build=$(cd "$1" && pwd)
copies=$2
steps=$3
path=${4:-shared}
window=20
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

work=$(mktemp -d /tmp/velmor-copies.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A world of their own: discovery folder, copy-number locks, no session bus.
export VELMOR_NDI_DIR=$work/ndi
export XDG_RUNTIME_DIR=$work/run
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
export VELMOR_NDI=builtin
mkdir -p "$work/run" && chmod 700 "$work/run"
if [ "$path" = tcp ]; then export VELMOR_NDI_TCP=1; fi

"$build/bench/copies/velmor_copies_config" "$work/copies.vlm" "$steps"
host=$(hostname | tr '[:lower:]' '[:upper:]')

src_args=(--name Copies --size 1920x1080 --rate 60/1 --format uyvy --seconds $((window + 40)))
relay_args=(--headless --show-local --config "$work/copies.vlm" --source "$host (Copies)")
if [ "$steps" = on ]; then
    src_args+=(--interlaced)
    relay_args+=(--ppm-overlay)
fi

"$build/tools/velmor-testsrc/velmor-testsrc" "${src_args[@]}" >"$work/src.log" 2>&1 &
pids+=($!)
src=$!
relays=()
for i in $(seq 1 "$copies"); do
    (cd "$work" && exec "$build/src/app/velmor" "${relay_args[@]}") >"$work/relay$i.log" 2>&1 &
    pids+=($!)
    relays+=($!)
done
sinks=()
for i in $(seq 1 "$copies"); do
    "$build/tools/velmor-sink/velmor-sink" --source "Korvo Velmor $i" --find-timeout 20 \
        --seconds $((window + 12)) >"$work/sink$i.log" 2>&1 &
    pids+=($!)
    sinks+=($!)
done

# Until every sink has had frames for a few seconds.
for _ in $(seq 1 60); do
    ready=0
    for i in $(seq 1 "$copies"); do
        [ "$(grep -c '^stats:' "$work/sink$i.log" 2>/dev/null || true)" -ge 3 ] && ready=$((ready + 1))
    done
    [ "$ready" -eq "$copies" ] && break
    sleep 0.5
done

cpu() {  # user + system clock ticks of a process
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
declare -A before
for p in "$src" "${relays[@]}" "${sinks[@]}"; do before[$p]=$(cpu "$p"); done
start_line=()
for i in $(seq 1 "$copies"); do start_line+=("$(grep -c '^stats:' "$work/sink$i.log")"); done
sleep "$window"
declare -A after
for p in "$src" "${relays[@]}" "${sinks[@]}"; do after[$p]=$(cpu "$p"); done
end_line=()
for i in $(seq 1 "$copies"); do end_line+=("$(grep -c '^stats:' "$work/sink$i.log")"); done

hz=$(getconf CLK_TCK)
percent() { echo "scale=1; (${after[$1]} - ${before[$1]}) * 100 / $hz / $window" | bc; }
echo "copies $copies, steps $steps, path $path, load average before: $load_before"
total=0
for i in $(seq 1 "$copies"); do
    # The whole seconds between the two looks, from the sink's per-second lines.
    first=$((${start_line[$((i - 1))]} + 1))
    last=${end_line[$((i - 1))]}
    frames=$(sed -n '/^stats:/p' "$work/sink$i.log" | sed -n "${first},${last}p" |
        awk '{ s += $2 } END { print s + 0 }')
    seconds=$((last - first + 1))
    missed=$((seconds * 60 - frames))
    total=$((total + missed))
    echo "sink $i: $frames frames in $seconds s, $missed missed;" \
        "relay CPU $(percent "${relays[$((i - 1))]}") %, sink CPU $(percent "${sinks[$((i - 1))]}") %"
done
echo "source CPU $(percent "$src") %; frames missed by all sinks: $total"
grep -h "NDI built-in transport" "$work"/*.log | sort | uniq -c || true
