#!/usr/bin/env bash
# The output's delay behind its source, as an operator runs Velmor: 1080p60 with stereo from
# velmor-testsrc, Velmor with its window open on a private X server (Xvfb), the preview on, the
# local monitor playing on a private PulseAudio server (a null sink), watched by velmor-sink
# --delay-log. Optionally the PPM meter on the output.
#
#   bench/latency/run_latency.sh BUILD [SECONDS] [--stall x|pulse|none] [--ppm] [--out DIR]
#                                [--velmor PATH] [--soak]
#
# --velmor runs another build's velmor (an older one, to compare) with this build's test source
# and sink. --soak runs SECONDS without a stall and compares the first minute with the last.
# Runs SECONDS (default 20) steady, then stops the X server (or the sound server) for 4 s with
# SIGSTOP, then SECONDS again; prints the delays of video and audio (median and 99th percentile)
# before and after, the gaps, the frames and audio lost (bench/latency/delays.py), and Velmor's
# CPU and memory at the start and the end. Everything stays on this machine, in a folder of its
# own; nothing is left running.
set -euo pipefail
build=${1:?usage: run_latency.sh BUILD [SECONDS] [--stall x|pulse|none] [--ppm] [--out DIR]}
shift
seconds=20
if [[ ${1:-} =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
stall=x
soak=0
velmor=""
ppm=()
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --stall) stall=$2; shift 2 ;;
    --ppm) ppm=(--ppm-overlay); shift ;;
    --out) out=$2; shift 2 ;;
    --velmor) velmor=$2; shift 2 ;;
    --soak) soak=1; stall=none; shift ;;
    *) echo "unknown option $1" >&2; exit 1 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
velmor=${velmor:-$build/src/app/velmor}
dir=$(mktemp -d /tmp/velmor-latency.XXXXXX)
[ -n "$out" ] && mkdir -p "$out"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "$out" ] && cp "$dir"/*.log "$out"/ 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/run" "$dir/ndi" "$dir/work" "$dir/pulse"
chmod 700 "$dir/run"
export VELMOR_NDI_DIR="$dir/ndi" XDG_RUNTIME_DIR="$dir/run"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"

# The display.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp 2>"$dir/xvfb.err")
xvfb_pid=$!
pids+=("$xvfb_pid")
read -r -t 20 display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb

# The sound server: a null sink that plays in real time.
XDG_RUNTIME_DIR="$dir/pulse" HOME="$dir/pulse" pulseaudio --daemonize=no --exit-idle-time=-1 -n \
  --use-pid-file=no --disable-shm=yes --log-target=stderr -L \
  "module-null-sink sink_name=velmor_null rate=48000" -L \
  "module-native-protocol-unix socket=$dir/pulse/native auth-anonymous=1" 2>"$dir/pulse.log" &
pulse_pid=$!
pids+=("$pulse_pid")
for _ in $(seq 100); do [ -S "$dir/pulse/native" ] && break; sleep 0.05; done
export PULSE_SERVER="unix:$dir/pulse/native"

host=$(hostname | tr '[:lower:]' '[:upper:]')
nice -n -10 "$build/tools/velmor-testsrc/velmor-testsrc" --name Latency --size 1920x1080 \
  --rate 60/1 --seconds $((2 * seconds + 40)) >"$dir/testsrc.log" 2>&1 &
pids+=("$!")
(cd "$dir/work" && exec nice -n -10 "$velmor" --show-local --source "$host (Latency)" \
  --config "$dir/latency.vlm" "${ppm[@]}") >"$dir/velmor.log" 2>&1 &
velmor_pid=$!
pids+=("$velmor_pid")
nice -n -10 "$build/tools/velmor-sink/velmor-sink" --source "Korvo Velmor 1" --find-timeout 30 \
  --seconds $((2 * seconds + 35)) --delay-log "$dir/delay.log" >"$dir/sink.log" 2>&1 &
pids+=("$!")

# Steady output first.
for _ in $(seq 300); do
  [ -f "$dir/delay.log" ] && [ "$(grep -c '^V' "$dir/delay.log")" -gt 180 ] && break
  sleep 0.1
done
usage() {  # CPU seconds (user + system) and resident memory of velmor
  awk '{printf "%.2f ", ($14 + $15) / 100}' "/proc/$velmor_pid/stat"
  awk '{printf "%d\n", $2 * 4096 / 1048576}' "/proc/$velmor_pid/statm"
}
# Resident memory by kind: the process's own (anonymous) and the shared memory of the built-in
# transport's frame slots, which counts as resident once a slot has been written.
memory_kinds() {
  awk '/^RssAnon/ {a = $2} /^RssShmem/ {s = $2} END {printf "%d MiB own, %d MiB shared frame slots", a / 1024, s / 1024}' \
    "/proc/$velmor_pid/status"
}
now100() { echo $(( $(date +%s%N) / 100 )); }
read -r cpu0 mem0 < <(usage)
t0=$(now100)
if [ "$soak" = 1 ]; then
  sleep 60
  read -r cpuA memA < <(usage)
  tA=$(now100)
  sleep $((seconds - 120))
  tB=$(now100)
  read -r cpuB memB < <(usage)
  sleep 60
  t1=$(now100)
  read -r cpu1 mem1 < <(usage)
  kinds=$(memory_kinds)
  echo "soak: $seconds s, velmor: $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo ?)"
  echo "first minute, last minute, whole run:"
  python3 "$here/delays.py" "$dir/delay.log" "$t0" "$tA" "$tB" "$t1" --soak
  awk -v c0="$cpu0" -v cA="$cpuA" -v cB="$cpuB" -v c1="$cpu1" -v m0="$mem0" -v mA="$memA" -v m1="$mem1" \
    'BEGIN { printf "velmor: %.1f %% of a core in the first minute, %.1f %% in the last; %d MiB resident after start-up, %d MiB after a minute, %d MiB at the end\n", 100 * (cA - c0) / 60, 100 * (c1 - cB) / 60, m0, mA, m1 }'
  echo "velmor's resident memory at the end: $kinds"
  grep -E "^total:" "$dir/sink.log" || true
  exit 0
fi
sleep "$seconds"
start=$(now100)
read -r cpu1 mem1 < <(usage)
case "$stall" in
  x) kill -STOP "$xvfb_pid"; sleep 4; kill -CONT "$xvfb_pid" ;;
  pulse) kill -STOP "$pulse_pid"; sleep 4; kill -CONT "$pulse_pid" ;;
  none) sleep 4 ;;
esac
end=$(now100)
sleep "$seconds"
to=$(now100)
read -r cpu2 mem2 < <(usage)
kinds=$(memory_kinds)
echo "stall: $stall, $seconds s before and after; velmor: $(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo ?)"
python3 "$here/delays.py" "$dir/delay.log" "$t0" "$start" "$end" "$to"
awk -v c0="$cpu0" -v c1="$cpu1" -v c2="$cpu2" -v s="$seconds" -v m0="$mem0" -v m2="$mem2" \
  'BEGIN { printf "velmor: %.1f %% of a core before, %.1f %% after; %d MiB resident at the start, %d MiB at the end\n", 100 * (c1 - c0) / s, 100 * (c2 - c1) / (s + 4), m0, m2 }'
echo "velmor's resident memory at the end: $kinds"
