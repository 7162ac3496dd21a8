#!/usr/bin/env bash
# Runs Velmor: installs what is missing, builds, then starts the relay with the given arguments
# (see ./velmor.sh --help). Until the windows exist, Velmor runs headless and logs to the terminal.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
cmake --preset default -S "$here" >/dev/null
cmake --build "$here/build" --target velmor velmor_ndi_builtin >/dev/null
exec "$here/build/src/app/velmor" --headless "$@"
