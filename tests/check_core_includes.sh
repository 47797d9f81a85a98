#!/usr/bin/env bash
# Fails when a core or command-line source includes a QtWidgets header or anything from app/,
# view/ or platform/: neither asks questions nor knows a window.
set -u
src=$1
hits=$(grep -rnE '#include\s*[<"](QtWidgets|Q(Widget|Application|Dialog|MessageBox|FileDialog|ColorDialog|MainWindow|ScrollArea|PushButton|ComboBox|Label)\b|app/|view/|platform/)' \
  "$src/image" "$src/grid" "$src/tilemap" "$src/document" "$src/level" "$src/threads" "$src/cli")
if [ -n "$hits" ]; then
  echo "core or command-line sources include widget or UI headers:"
  echo "$hits"
  exit 1
fi
echo "core and command line are free of widget headers"
