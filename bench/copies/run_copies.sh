#!/usr/bin/env bash
# The many-copies measurement of docs/benchmarks.md: one velmor-testsrc at 1080p60 UYVY, N
# `velmor --headless` relay copies of it, and one velmor-sink on each copy's main output, all on
# this machine, each in its own process; one more sink watches the source itself. After
# everything runs, each sink counts the frames it gets in 20 whole seconds (1200 at 60p); a frame
# a relay's sink misses is one fewer than the source's own sink got in the same time (give or take
# one at the edges of the seconds; the source itself falls behind when the machine stalls it for
# more than two frames). The CPU each process used in those 20 s is read from /proc.
#
#   bench/copies/run_copies.sh BUILD_DIR COPIES on|off [tcp]
#
# KEEP=1 keeps the processes' logs (the folder is printed at the end).
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
shmem_before=$(awk '/^Shmem:/ { printf "%.0f", $2 / 1024 }' /proc/meminfo)

work=$(mktemp -d /tmp/velmor-copies.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "${KEEP:-}" ]; then echo "logs in $work"; else rm -rf "$work"; fi
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
"$build/tools/velmor-sink/velmor-sink" --source Copies --find-timeout 20 \
    --seconds $((window + 12)) >"$work/sink0.log" 2>&1 &
pids+=($!)
sinks=()
for i in $(seq 1 "$copies"); do
    "$build/tools/velmor-sink/velmor-sink" --source "Korvo Velmor $i" --groups "Korvo Velmor,Public" \
        --find-timeout 20 \
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
for i in $(seq 0 "$copies"); do start_line+=("$(grep -c '^stats:' "$work/sink$i.log" || true)"); done
sleep "$((window / 2))"
shmem_during=$(awk '/^Shmem:/ { printf "%.0f", $2 / 1024 }' /proc/meminfo)
sleep "$((window - window / 2))"
declare -A after
for p in "$src" "${relays[@]}" "${sinks[@]}"; do after[$p]=$(cpu "$p"); done
end_line=()
for i in $(seq 0 "$copies"); do end_line+=("$(grep -c '^stats:' "$work/sink$i.log" || true)"); done

hz=$(getconf CLK_TCK)
percent() { awk -v a="${after[$1]}" -v b="${before[$1]}" -v hz="$hz" -v w="$window" \
    'BEGIN { printf "%.1f", (a - b) * 100 / hz / w }'; }

# Frames sink $1 got in the whole seconds between the two looks, from its per-second lines, and
# the gaps in the source's frame counter it saw (only the source's own sink sees the counter).
counted() {
    local first=$((${start_line[$1]} + 1)) last=${end_line[$1]}
    sed -n '/^stats:/p' "$work/sink$1.log" | sed -n "${first},${last}p" |
        awk '{ f += $2; g += $4 } END { print f + 0, NR, g + 0 }'
}
echo "copies $copies, steps $steps, path $path, load average before: $load_before"
read -r reference seconds gaps < <(counted 0)
echo "source's own sink: $reference frames in $seconds s ($((seconds * 60 - reference)) behind 60p), $gaps dropped on the way"
total=0
for i in $(seq 1 "$copies"); do
    read -r frames seconds _ < <(counted "$i")
    missed=$((reference - frames))
    total=$((total + missed))
    echo "sink $i: $frames frames in $seconds s, $missed fewer than the source's own sink;" \
        "relay CPU $(percent "${relays[$((i - 1))]}") %, sink CPU $(percent "${sinks[$((i - 1))]}") %"
done
echo "source CPU $(percent "$src") %; frames the relays' sinks missed in all: $total"
echo "shared memory of the machine (Shmem): $shmem_before MiB before, $shmem_during MiB while running"
grep -h "NDI built-in transport" "$work"/*.log | sort | uniq -c || true
