#!/usr/bin/env bash
# Takes the README's pictures of the window from a real X server (Xvfb, no window manager):
#   idle.png      the window just started, no source
#   menu.png      the same with the Velmor menu open
#   relaying.png  relaying velmor-testsrc: picture in the preview, PPM meter, magenta lamp
#   procamp.png, group-settings.png, ppm-config.png
#                 the setup windows, opened from the window by the setup windows' end-to-end
#                 test (the proc amp with Monitor and WFM on, over the test source)
#   overlay-setup.png  the "Overlay setup" window with a picture loaded, placed and switched on
#   audio-map.png      the "NDI® Audio Map & Gain" window for four channels
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, docs/screenshots)
# Builds nothing: BUILD_DIR must hold velmor, velmor-testsrc, velmor-sink,
# velmor_window_e2e_tests and velmor_dialogs_tests. Needs Xvfb, xdotool, dbus-daemon
# and ImageMagick's import (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs/screenshots}")
velmor="$build/src/app/velmor"
testsrc="$build/tools/velmor-testsrc/velmor-testsrc"
windows="$build/tests/app/window_e2e/velmor_window_e2e_tests"
dialogs="$build/tests/dialogs/velmor_dialogs_tests"
for f in "$velmor" "$testsrc" "$windows" "$dialogs"; do
  [ -x "$f" ] || { echo "screenshots: $f is missing (build it first)" >&2; exit 1; }
done
for t in xdotool import; do
  command -v "$t" >/dev/null || { echo "screenshots: $t is missing (scripts/setup.sh)" >&2; exit 1; }
done
mkdir -p "$out"

source scripts/lib/private_display.sh

window_id() {
  xdotool search --sync --onlyvisible --name "Receiver/Transmitter" | head -n1
}

# The window's own rectangle of the screen (no decorations without a window manager); popups
# such as the open menu lie inside it.
shoot() {
  local id=$1 file=$2 X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$file"
  echo "screenshots: $out/$file (${WIDTH}x${HEIGHT})"
}

# Waits until the log file $1 holds $2.
wait_log() {
  for _ in $(seq 300); do grep -q "$2" "$1" && return 0; sleep 0.1; done
  echo "screenshots: never saw \"$2\" in $1" >&2
  cat "$1" >&2
  return 1
}

# 1. Idle, then its menu.
(cd "$tmp/work" && exec "$velmor" --config "$tmp/idle.vlm") >"$tmp/velmor.log" 2>&1 &
velmor_pid=$!
pids+=($velmor_pid)
id=$(window_id)
wait_log "$tmp/velmor.log" "Receiver/Transmitter"
sleep 1  # the first paint after the title is set
shoot "$id" idle.png
xdotool windowfocus --sync "$id" key alt+v
sleep 1
shoot "$id" menu.png
xdotool key Escape
kill -TERM "$velmor_pid"
wait "$velmor_pid" || true

# 2. Relaying the test source (tones on its channels move the meter).
host=$(hostname | tr '[:lower:]' '[:upper:]')
"$testsrc" --name "Camera 1" --size 1280x720 --rate 25/1 --seconds 60 --print-metadata \
  >"$tmp/testsrc.log" 2>&1 &
pids+=($!)
(cd "$tmp/work" && exec "$velmor" --config "$tmp/relay.vlm" --show-local \
  --source "$host (Camera 1)") >"$tmp/velmor.log" 2>&1 &
pids+=($!)
id=$(window_id)
wait_log "$tmp/testsrc.log" 'short_name="NDI Velmor"'  # velmor's receiver has connected
sleep 2  # the meter's needles rise and the preview fills
shoot "$id" relaying.png

# 3. The setup windows, drawn on this display and taken from it.
VELMOR_SCREENSHOTS="$out" "$windows" >"$tmp/windows.log" 2>&1 || {
  echo "screenshots: the setup windows' test failed" >&2
  cat "$tmp/windows.log" >&2
  exit 1
}
for f in procamp.png group-settings.png ppm-config.png; do
  echo "screenshots: $out/$f"
done

# 4. The overlay and audio map windows, drawn on the same display by the dialog tests' screenshot
# cases.
VELMOR_SCREENSHOTS="$out" "$dialogs" --gtest_filter='*.Screenshot' >"$tmp/dialogs.log" 2>&1 ||
  { cat "$tmp/dialogs.log" >&2; exit 1; }
for f in overlay-setup.png audio-map.png; do echo "screenshots: $out/$f"; done
