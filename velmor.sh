#!/usr/bin/env bash
# Runs Velmor: installs what is missing, builds, then starts the program with the given arguments.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
cmake --preset default -S "$here" >/dev/null
cmake --build "$here/build" --target velmor >/dev/null
exec "$here/build/src/app/velmor" "$@"
