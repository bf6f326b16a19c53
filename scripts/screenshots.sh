#!/bin/sh
# Renders both programs' windows under Xvfb into PNG files in docs/: the demo
# run takes a picture of each window at its interesting moments. Wine draws
# the window frames itself in its virtual desktop.
set -e
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
prefix="$PWD/build/wineprefix-x11"
sh cmake/make-prefix.sh "$prefix" x11
shots="$PWD/build/shots"
rm -rf "$shots" && mkdir -p "$shots"
Xvfb :73 -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
sleep 1
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
DISPLAY=:73 VLM_WINEPREFIX="$prefix" ./build/wine-run explorer /desktop=vlm,800x600 \
  "$(winpath "$PWD/build/bin/vlm_demo.exe")" "$(winpath "$PWD/build/shots-sample")" --shots "$(winpath "$shots")" \
  >/dev/null 2>&1 || true
WINEPREFIX="$prefix" wineserver -w
for f in "$shots"/*.bmp; do
  [ -s "$f" ] || continue
  convert "$f" "docs/$(basename "$f" .bmp).png"
done
ls docs/*.png
