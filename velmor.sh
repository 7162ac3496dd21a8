#!/usr/bin/env bash
# Runs Velmor: installs what is missing, builds, then starts it with the given arguments
# (see ./velmor.sh --help). It opens the window; --headless runs the relay without one.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
cmake --preset default -S "$here" >/dev/null
cmake --build "$here/build" --target velmor velmor_ndi_builtin >/dev/null
exec "$here/build/src/app/velmor" "$@"
