#!/bin/sh
# Fetches zlib's source from Debian's own source package and unpacks it, with
# its Debian patches, into DIR/source (the build compiles it there).
#
#   sh scripts/fetch-zlib.sh DIR
#
# apt is given a sources list, a list folder and a cache of DIR's own, so the
# machine's apt configuration and package lists are left as they are. Does
# nothing when DIR/source is already complete.
set -e
dir=$1
[ -n "$dir" ] || { echo "usage: fetch-zlib.sh DIR" >&2; exit 2; }
# zlib 1.2.13 in whatever Debian revision bookworm holds now (a stable
# update replaces the revision in the archive).
upstream=1.2.13
[ -f "$dir/source/.complete" ] && grep -q "^$upstream" "$dir/source/.complete" && exit 0

mkdir -p "$dir/apt/lists/partial" "$dir/apt/parts" "$dir/apt/cache/archives/partial" "$dir/download"
dir=$(cd "$dir" && pwd)
printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main\n' \
    > "$dir/apt/sources.list"
set -- -o "Dir::Etc::SourceList=$dir/apt/sources.list" -o "Dir::Etc::SourceParts=$dir/apt/parts" \
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache" -o APT::Sandbox::User=root
echo "Fetching zlib $upstream (Debian source package) into $dir"
apt-get "$@" -qq update
rm -rf "$dir/download"/* "$dir/source"
(cd "$dir/download" && apt-get "$@" -qq source --download-only zlib)
# apt checked the files' hashes against Debian's signed index; dpkg-source
# checks them again (the .dsc's own signature needs Debian's developer keyring,
# so its warning about that is kept out of the build's output).
dsc=$(ls "$dir/download"/zlib_"$upstream".*.dsc 2>/dev/null | head -n1)
[ -n "$dsc" ] || { echo "bookworm's zlib source is not $upstream: $(ls "$dir/download")" >&2; exit 1; }
dpkg-source -x "$dsc" "$dir/source" >"$dir/download/unpack.log" 2>&1 ||
    { cat "$dir/download/unpack.log" >&2; exit 1; }
rm -f "$dir"/zlib_*.orig.tar.*  # the copy dpkg-source leaves beside the unpacked tree
basename "$dsc" .dsc | sed 's/^zlib_//' > "$dir/source/.complete"
