#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and running Velmor needs.
# Idempotent and silent when everything is already present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  libavfilter-dev libavformat-dev libavutil-dev libswscale-dev
  # built-in NDI transport
  libasio-dev
  # the HTTP front end: HTTP and WebSocket (Boost.Beast over Boost.Asio), JSON (nlohmann-json)
  libboost1.74-dev nlohmann-json3-dev
  # the control page's browser test and screenshots: headless Chromium driven by chromedriver
  chromium chromium-driver
  # platform services: Qt 6 (widgets, images, D-Bus), GIF encoding, sound
  qt6-base-dev qt6-image-formats-plugins libgif-dev libpulse-dev
  fonts-dejavu-core fonts-liberation
  # services the tests start themselves: a sound server, a session bus, a display, netns
  pulseaudio pulseaudio-utils dbus dbus-daemon xvfb xauth iproute2
  # the window driven from outside: the accessibility bus (at-spi-bus-launcher), clicks and keys
  # on the X display; screenshots of it (scripts/screenshots.sh)
  at-spi2-core xdotool imagemagick
  # desktop integration: the desktop entry's validator, the icon renderer (scripts/make_icons.sh)
  desktop-file-utils librsvg2-bin
  # packaging: manual pages, the Debian package's dependencies and checks, the service verifier
  help2man dpkg-dev file lintian man-db systemd
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != "installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
