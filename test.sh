#!/usr/bin/env bash
# Runs the whole Velmor test suite: installs what is missing, builds, then runs ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
