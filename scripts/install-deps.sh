#!/bin/sh
# Installs the Debian packages the build, the tests and the demonstration need,
# when they are missing.
set -e
packages="cmake make g++ g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest dpkg-dev xz-utils bzip2
wine wine64 xvfb unzip zip 7zip libarchive-tools python3 pigz imagemagick time debootstrap wixl"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq $missing >/dev/null
