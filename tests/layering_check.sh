#!/usr/bin/env bash
# Fails when a source file includes a header from a higher layer, when it includes a header of a
# folder on its own layer that the map does not let it use, when a layer below the platform
# includes Qt, or when a layer below the widgets includes a Qt Widgets header. Layers, lowest
# first, as in docs/ARCHITECTURE.md.
# usage: layering_check.sh SRC_DIR [QT_WIDGETS_INCLUDE_DIR]
set -u
src=${1:?usage: layering_check.sh SRC_DIR [QT_WIDGETS_INCLUDE_DIR]}
widgets_dir=${2:-}
declare -A level=([ndi]=0 [video]=1 [audio]=1 [relay]=2 [persist]=2 [engine]=3 [discovery]=3
                  [platform]=4 [widgets]=5 [dialogs]=6 [remote]=6 [app]=7)
# Edges that the map forbids beyond the layers' order: engine/ and discovery/ are independent,
# relay/ lies below persist/, only audio/ may use video/ (for its picture type), the network
# front end (remote/) and the setup windows (dialogs/) stay apart, and remote/ uses no widgets.
declare -A forbidden=([engine:discovery]=1 [discovery:engine]=1 [relay:persist]=1
                      [video:audio]=1 [remote:dialogs]=1 [dialogs:remote]=1 [remote:widgets]=1)
status=0

# The names of Qt Widgets' headers (QWidget, QLabel, ...), from its include folder, and those of
# Qt Gui (QImage, QPainter, ...), which remote/ may not use either (Qt Core and Network only).
if [ -z "$widgets_dir" ]; then
  for d in /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets; do
    [ -d "$d" ] && widgets_dir=$d && break
  done
fi
declare -A widgets_header=() gui_header=()
if [ -d "$widgets_dir" ]; then
  for f in "$widgets_dir"/Q*; do
    name=${f##*/}
    [[ $name == *.* ]] || widgets_header[$name]=1
  done
  for f in "${widgets_dir%/QtWidgets}"/QtGui/Q*; do
    name=${f##*/}
    [[ $name == *.* ]] || gui_header[$name]=1
  done
fi

for dir in "${!level[@]}"; do
  [ -d "$src/$dir" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    inc=$(sed -E 's/.*#include[[:space:]]*"([^"/]+)\/.*/\1/' <<<"$line")
    if [ -n "${level[$inc]+x}" ] && [ "${level[$inc]}" -gt "${level[$dir]}" ]; then
      echo "layering: $file includes $inc/ (layer ${level[$inc]}) from $dir/ (layer ${level[$dir]})"
      status=1
    fi
    if [ -n "${forbidden[$dir:$inc]+x}" ]; then
      echo "layering: $file includes $inc/ from $dir/, which the map keeps apart"
      status=1
    fi
  done < <(grep -rnE '#include[[:space:]]*"[a-z_]+/' "$src/$dir" --include='*.h' --include='*.cpp' | sed -E 's/^([^:]+):[0-9]+:/\1:/')
  if [ "${level[$dir]}" -lt 4 ] && grep -rqE '#include[[:space:]]*<Q' "$src/$dir"; then
    echo "layering: $dir/ includes a Qt header"; status=1
  fi
  if [ "$dir" = remote ]; then
    while IFS= read -r line; do
      file=${line%%:*}
      inc=$(sed -E 's/.*#include[[:space:]]*<([^>]+)>.*/\1/' <<<"$line")
      if [[ $inc == QtWidgets/* || $inc == QtGui/* ]] || [ -n "${widgets_header[$inc]+x}" ] ||
         [ -n "${gui_header[$inc]+x}" ]; then
        echo "layering: $file includes the Qt Gui or Widgets header <$inc> from remote/"
        status=1
      fi
    done < <(grep -rnE '#include[[:space:]]*<Q' "$src/$dir" --include='*.h' --include='*.cpp' | sed -E 's/^([^:]+):[0-9]+:/\1:/')
  fi
  if [ "${level[$dir]}" -lt 5 ]; then
    while IFS= read -r line; do
      file=${line%%:*}
      inc=$(sed -E 's/.*#include[[:space:]]*<([^>]+)>.*/\1/' <<<"$line")
      if [[ $inc == QtWidgets/* ]] || [ -n "${widgets_header[$inc]+x}" ]; then
        echo "layering: $file includes the Qt Widgets header <$inc> from $dir/ (layer ${level[$dir]})"
        status=1
      fi
    done < <(grep -rnE '#include[[:space:]]*<Q' "$src/$dir" --include='*.h' --include='*.cpp' | sed -E 's/^([^:]+):[0-9]+:/\1:/')
  fi
done
if [ ${#widgets_header[@]} -eq 0 ]; then
  echo "layering: no Qt Widgets headers found (pass the QtWidgets include folder)"; status=1
fi
[ $status -eq 0 ] && echo "layering: ok"
exit $status
