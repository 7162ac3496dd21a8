#!/usr/bin/env bash
# Fails when a source file includes a header from a higher layer, or when a layer below the
# platform includes Qt. Layers, lowest first, as in docs/ARCHITECTURE.md.
set -u
src=${1:?usage: layering_check.sh SRC_DIR}
declare -A level=([ndi]=0 [video]=1 [audio]=1 [relay]=2 [persist]=2 [engine]=3 [discovery]=3
                  [platform]=4 [app]=5 [dialogs]=5)
status=0
for dir in "${!level[@]}"; do
  [ -d "$src/$dir" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    inc=$(sed -E 's/.*#include[[:space:]]*"([^"/]+)\/.*/\1/' <<<"$line")
    if [ -n "${level[$inc]+x}" ] && [ "${level[$inc]}" -gt "${level[$dir]}" ]; then
      echo "layering: $file includes $inc/ (layer ${level[$inc]}) from $dir/ (layer ${level[$dir]})"
      status=1
    fi
  done < <(grep -rnE '#include[[:space:]]*"[a-z_]+/' "$src/$dir" --include='*.h' --include='*.cpp' | sed -E 's/^([^:]+):[0-9]+:/\1:/')
  if [ "${level[$dir]}" -lt 4 ] && grep -rqE '#include[[:space:]]*<Q' "$src/$dir"; then
    echo "layering: $dir/ includes a Qt header"; status=1
  fi
done
[ $status -eq 0 ] && echo "layering: ok"
exit $status
