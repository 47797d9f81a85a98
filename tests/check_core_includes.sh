#!/usr/bin/env bash
# Fails when a core source includes a QtWidgets header or anything from app/, view/ or platform/:
# the core asks no questions and knows no window.
set -u
src=$1
hits=$(grep -rnE '#include\s*[<"](QtWidgets|Q(Widget|Application|Dialog|MessageBox|FileDialog|ColorDialog|MainWindow|ScrollArea|PushButton|ComboBox|Label)\b|app/|view/|platform/)' \
  "$src/image" "$src/grid" "$src/tilemap" "$src/document")
if [ -n "$hits" ]; then
  echo "core sources include widget or UI headers:"
  echo "$hits"
  exit 1
fi
echo "core is free of widget headers"
