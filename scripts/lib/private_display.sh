# Sourced by the scripts that run velmor on an X display of their own (scripts/screenshots.sh,
# bench/gui/window_cpu.sh): nothing of this machine's own copies, sources or desktop is seen.
# Sets $tmp (a temporary folder with the runtime folder run/, the discovery folder ndi/ and the
# working folder work/), DISPLAY (Xvfb on a free display, 1280x900, no window manager) and
# DBUS_SESSION_BUS_ADDRESS (a private session bus), and sends the local monitor to a WAV file.
# Every process whose id is added to $pids is killed when the script ends, then $tmp goes.
for t in Xvfb dbus-daemon; do
  command -v "$t" >/dev/null || { echo "$0: $t is missing (scripts/setup.sh)" >&2; exit 1; }
done
tmp=$(mktemp -d /tmp/velmor-display-XXXXXX)
pids=()
private_display_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap private_display_cleanup EXIT
mkdir -p "$tmp/run" "$tmp/ndi" "$tmp/work"
chmod 700 "$tmp/run"
export XDG_RUNTIME_DIR="$tmp/run" VELMOR_NDI_DIR="$tmp/ndi" QT_QPA_PLATFORM=xcb \
  VELMOR_MONITOR_WAV="$tmp/monitor.wav"

Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "$0: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"
dbus-daemon --session --nofork --print-address=1 >"$tmp/bus" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$tmp/bus" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$tmp/bus")
