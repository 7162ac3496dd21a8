#!/usr/bin/env bash
# Takes the README's pictures of the control page (velmor --http) with the browser's own
# screenshots: the browser test of the page (tests/e2e/remote_browser_e2e_test.cpp) runs the
# real relay (velmor-testsrc -> velmor --headless --http -> velmor-sink) in Debian's headless
# Chromium and saves, on its way:
#   control-page-token.png   the page opened without a token: it asks for one
#   control-page.png         relaying, the whole page on a wide screen: the preview, the meter,
#                            the captions and lamps, the video, proc amp and audio settings
#   control-page-frozen.png  after a click on Freeze: "Restart", the freeze lamp
#   control-page-phone.png   the same page 390 pixels wide, as a phone shows it
# Usage: scripts/remote_screenshots.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, docs/screenshots)
# Builds nothing: BUILD_DIR must hold velmor, velmor-testsrc, velmor-sink and velmor_e2e_tests.
# Needs chromium and chromium-driver (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs/screenshots}")
tests="$build/tests/e2e/velmor_e2e_tests"
[ -x "$tests" ] || { echo "remote_screenshots: $tests is missing (build it first)" >&2; exit 1; }
for f in /usr/bin/chromium /usr/bin/chromedriver; do
  [ -x "$f" ] || { echo "remote_screenshots: $f is missing (scripts/setup.sh)" >&2; exit 1; }
done
mkdir -p "$out"
VELMOR_SCREENSHOT_DIR="$out" "$tests" --gtest_filter='RemoteBrowser.*' --gtest_brief=1
for f in control-page-token.png control-page.png control-page-frozen.png control-page-phone.png; do
  [ -s "$out/$f" ] || { echo "remote_screenshots: $out/$f was not made" >&2; exit 1; }
  echo "remote_screenshots: $out/$f"
done
