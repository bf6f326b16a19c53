#!/bin/sh
# Renders both programs' windows under Xvfb into PNG files in docs/: the demo
# run takes a picture of each window at its interesting moments, once at 100 %
# (96 dots per inch) and once at 150 % (144, pictures named *-150.png). Wine
# draws the window frames itself in its virtual desktop.
set -e
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
prefix="$PWD/build/wineprefix-x11"
sh cmake/make-prefix.sh "$prefix" x11
Xvfb :73 -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
# The prefix's scale goes back to the default however the script ends.
scale() {
  if [ "$1" = 96 ]; then
    WINEPREFIX="$prefix" wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  else
    WINEPREFIX="$prefix" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  fi
  WINEPREFIX="$prefix" wineserver -w
}
trap 'scale 96; kill $xvfb 2>/dev/null' EXIT
sleep 1
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Each pass: dots per inch, desktop size (150 % of the first at 150 %, so that
# the windows lie inside it as at 100 %), picture name suffix.
for pass in "96 800x600 " "144 1200x900 -150"; do
  set -- $pass
  dpi=$1 desktop=$2 suffix=${3:-}
  shots="$PWD/build/shots$suffix"
  rm -rf "$shots" && mkdir -p "$shots"
  scale "$dpi"
  DISPLAY=:73 VLM_WINEPREFIX="$prefix" ./build/wine-run explorer /desktop=vlm,$desktop \
    "$(winpath "$PWD/build/bin/vlm_demo.exe")" "$(winpath "$PWD/build/shots-sample")" --shots "$(winpath "$shots")" \
    >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w
  for f in "$shots"/*.bmp; do
    [ -s "$f" ] || continue
    convert "$f" "docs/$(basename "$f" .bmp)$suffix.png"
  done
done
ls docs/*.png
