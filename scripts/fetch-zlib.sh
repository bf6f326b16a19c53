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
version=1:1.2.13.dfsg-1
[ -f "$dir/source/.complete" ] && [ "$(cat "$dir/source/.complete")" = "$version" ] && exit 0

mkdir -p "$dir/apt/lists/partial" "$dir/apt/parts" "$dir/apt/cache/archives/partial" "$dir/download"
dir=$(cd "$dir" && pwd)
printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main\n' \
    > "$dir/apt/sources.list"
set -- -o "Dir::Etc::SourceList=$dir/apt/sources.list" -o "Dir::Etc::SourceParts=$dir/apt/parts" \
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache" -o APT::Sandbox::User=root
echo "Fetching zlib $version (Debian source package) into $dir"
apt-get "$@" -qq update
rm -rf "$dir/download"/* "$dir/source"
(cd "$dir/download" && apt-get "$@" -qq source --download-only "zlib=$version")# apt checked the files' hashes against Debian's signed index; dpkg-source
# checks them again (the .dsc's own signature needs Debian's developer keyring,
# so its warning about that is kept out of the build's output).
dpkg-source -x "$dir/download/zlib_${version#1:}.dsc" "$dir/source" >"$dir/download/unpack.log" 2>&1 ||
    { cat "$dir/download/unpack.log" >&2; exit 1; }
rm -f "$dir"/zlib_*.orig.tar.*  # the copy dpkg-source leaves beside the unpacked tree
printf '%s\n' "$version" > "$dir/source/.complete"
