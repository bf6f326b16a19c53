#!/bin/sh
# Renders both programs' windows under Xvfb into PNG files in docs/.
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
DISPLAY=:73 VLM_WINEPREFIX="$prefix" ./build/wine-run build/bin/vlm_demo.exe \
  "Z:$(echo "$PWD/build/shots-sample" | tr / '\\')" --shots "Z:$(echo "$shots" | tr / '\\')" >/dev/null || true
for f in "$shots"/*.bmp; do
  convert "$f" "docs/$(basename "$f" .bmp).png"
done
ls docs/*.png
