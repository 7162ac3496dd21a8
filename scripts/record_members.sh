#!/usr/bin/env bash
# Counts the distinct relay-record members the engine's sources name, per file and in all.
#
# Usage: scripts/record_members.sh [git revision]   (default: the working tree)
#
# A member counts when it follows the record as the engine spells it: `r.x`, `r_.x`, `c_.r.x`,
# `c.r.x`, `context_.r.x` or `record.x` (every function of the engine that takes the record names
# it `r` or `record`). Only the first member of a chain counts (`r.overlaySetup.overlayOn` is
# `overlaySetup`). Comments are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:-}

list_files() {
  if [ -n "$rev" ]; then
    git ls-tree --name-only "$rev" src/engine/ | grep '\.cpp$'
  else
    ls src/engine/*.cpp
  fi
}
show() {
  if [ -n "$rev" ]; then git show "$rev:$1"; else cat "$1"; fi
}
members() {
  sed -e 's://.*$::' |
    { grep -oE '(^|[^A-Za-z0-9_.>])((c_?|context_?)\.r|r_?|record)\.[A-Za-z_][A-Za-z0-9_]*' || true; } |
    sed -E 's/.*\.//' | sort -u
}

all=$(mktemp)
trap 'rm -f "$all"' EXIT
for f in $(list_files); do
  names=$(show "$f" | members)
  printf '%-34s %3d\n' "$(basename "$f")" "$(printf '%s' "$names" | grep -c . || true)"
  printf '%s\n' "$names" >>"$all"
done
echo "distinct in all: $(grep . "$all" | sort -u | wc -l)"
if [ "${VERBOSE:-0}" = 1 ]; then grep . "$all" | sort | uniq -c | sort -rn; fi
