#!/bin/sh
# The 32-bit test environment: the i686 programs run as 32-bit processes under
# WOW64, as a 64-bit Windows runs them.
#
#   sh scripts/wow64.sh setup    <dir>   makes what is missing and mounts;
#                                        exit code 77: cannot be done here
#   sh scripts/wow64.sh teardown <dir>   stops Wine, unmounts, unregisters
#
# This kernel cannot run 32-bit ELF programs, and Debian's Wine starts 32-bit
# Windows programs through a 32-bit Unix loader. So the 32-bit Unix side runs
# under qemu-i386 through binfmt_misc, and the 32-bit Wine lives in a Debian
# chroot of its own: with wine32 installed on the machine itself, the machine's
# 64-bit Wine stops working.
#
# <dir> (build-i686/wow64) holds the chroot, qemu, the Wine prefix and the state:
#   ready-*      the steps already done (the setup is idempotent)
#   active       written once everything is mounted; wine-run needs it
#   unavailable  why the 32-bit tests cannot run here (they are then skipped)
#   made-*       what this setup did to the machine, for teardown to undo
set -e
action="$1"
dir="$2"
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 setup|teardown <dir>" >&2; exit 2; }
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
root="$dir/root"
qemu="$dir/qemu/qemu-i386"
binfmt=/proc/sys/fs/binfmt_misc
# One entry per build tree, so that two trees' runs never remove each other's.
entry="vlm-i386-$(printf %s "$dir" | md5sum | cut -c1-10)"
# The build tree is seen inside the chroot at its own path.
tree="$(dirname "$dir")"
binds="$tree proc sys dev dev/pts dev/shm"

log() { echo "wow64: $*"; }

unavailable() {
    echo "$*" >"$dir/unavailable"
    teardown
    log "SKIPPED the 32-bit tests: $*"
    exit 77
}

target_of() {  # the chroot path a bind goes to
    case "$1" in
        /*) echo "$root$1" ;;
        *) echo "$root/$1" ;;
    esac
}

source_of() {
    case "$1" in
        /*) echo "$1" ;;
        *) echo "/$1" ;;
    esac
}

in_root() {  # a command inside the chroot with the prefix's environment
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}

# The mirror and suites of this machine's own apt configuration.
mirror() {
    python3 - "$1" <<'EOF'
import glob, re, sys
want = sys.argv[1]
files = ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*"))
for name in files:
    try:
        text = open(name).read()
    except OSError:
        continue
    if name.endswith(".sources"):
        for stanza in re.split(r"\n\s*\n", text):
            fields = {}
            for line in stanza.splitlines():
                if ":" in line and not line.lstrip().startswith("#"):
                    k, v = line.split(":", 1)
                    fields[k.strip().lower()] = v.split()
            if "deb" in fields.get("types", []) and want in fields.get("suites", []):
                print(fields["uris"][0]); sys.exit(0)
    else:
        for line in text.splitlines():
            words = line.split("#", 1)[0].split()
            words = [w for w in words if not w.startswith("[")]
            if len(words) >= 3 and words[0] == "deb" and words[2] == want:
                print(words[1]); sys.exit(0)
sys.exit(1)
EOF
}

teardown() {
    if [ -f "$dir/active" ] || [ -d "$dir/prefix" ]; then
        if [ -x "$root/usr/bin/wineserver" ] && mountpoint -q "$root/proc"; then
            in_root wineserver -k >/dev/null 2>&1 || true
        fi
    fi
    rm -f "$dir/active"
    for b in $(echo "$binds" | tr ' ' '\n' | sort -r); do
        t="$(target_of "$b")"
        if mountpoint -q "$t" 2>/dev/null; then
            umount "$t" 2>/dev/null || umount -l "$t"
        fi
    done
    if [ -f "$dir/made-entry" ]; then
        [ -e "$binfmt/$entry" ] && echo -1 >"$binfmt/$entry"
        rm -f "$dir/made-entry"
    fi
    if [ -f "$dir/made-binfmt-mount" ]; then
        # Only when nothing else has been registered meanwhile.
        if [ -z "$(ls "$binfmt" | grep -v -x -e register -e status)" ]; then
            umount "$binfmt" 2>/dev/null || true
        fi
        rm -f "$dir/made-binfmt-mount"
    fi
}

setup() {
    rm -f "$dir/unavailable" "$dir/active"
    # A setup that fails midway leaves nothing mounted or registered.
    trap 'rc=$?; trap - EXIT; [ $rc -eq 0 ] || [ $rc -eq 77 ] || teardown; exit $rc' EXIT
    [ "$(id -u)" -eq 0 ] || unavailable "they need root (a chroot, bind mounts and binfmt_misc)"
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
            unavailable "binfmt_misc cannot be mounted at $binfmt, so qemu-i386 cannot run the 32-bit side of Wine"
        touch "$dir/made-binfmt-mount"
    fi

    if [ ! -f "$dir/ready-root" ]; then
        command -v debootstrap >/dev/null || unavailable "debootstrap is missing (scripts/install-deps.sh installs it)"
        main="$(mirror bookworm)" || unavailable "no Debian 12 mirror in /etc/apt/sources.list*"
        log "debootstrap from $main"
        rm -rf "$root"
        debootstrap --variant=minbase bookworm "$root" "$main" >"$dir/debootstrap.log" 2>&1 ||
            { tail -20 "$dir/debootstrap.log"; exit 1; }
        {
            for suite in bookworm bookworm-updates bookworm-security; do
                uri="$(mirror "$suite")" && echo "deb $uri $suite main"
            done
            echo "deb $main bookworm-backports main"
        } >"$root/etc/apt/sources.list"
        touch "$dir/ready-root"
    fi
    for b in $binds; do
        t="$(target_of "$b")"
        mkdir -p "$t"
        mountpoint -q "$t" || mount --bind "$(source_of "$b")" "$t"
    done

    if [ ! -f "$dir/ready-qemu" ]; then
        # Wine reserves its address space with MAP_FIXED_NOREPLACE, which qemu
        # before 8.0 ignores: each 32-bit process then takes a minute to start.
        log "qemu-user from bookworm-backports"
        in_root apt-get update -qq
        rm -rf "$dir/qemu" "$root/tmp/qemu"
        mkdir -p "$root/tmp/qemu"
        in_root sh -c 'cd /tmp/qemu && apt-get download -qq -o APT::Sandbox::User=root qemu-user/bookworm-backports'
        dpkg-deb -x "$root"/tmp/qemu/qemu-user_*.deb "$root/tmp/qemu/x"
        mkdir -p "$dir/qemu"
        cp "$root/tmp/qemu/x/usr/bin/qemu-i386" "$root/tmp/qemu/x/usr/share/qemu/binfmt.d/qemu-i386.conf" "$dir/qemu/"
        rm -rf "$root/tmp/qemu"
        version="$("$qemu" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')"
        [ "${version:-0}" -ge 8 ] || { log "qemu-i386 $version is older than 8"; exit 1; }
        touch "$dir/ready-qemu"
    fi
    if [ ! -e "$binfmt/$entry" ]; then
        # Magic and mask of 32-bit x86 ELF programs, as qemu's own binfmt file
        # gives them; F opens qemu now, so that it also works in the chroot.
        awk -F: -v name="$entry" -v q="$qemu" '/^:/ { printf ":%s:%s:%s:%s:%s:%s:F\n", name, $3, $4, $5, $6, q }' \
            "$dir/qemu/qemu-i386.conf" >"$binfmt/register"
        touch "$dir/made-entry"
    fi

    if [ ! -f "$dir/ready-wine" ]; then
        log "wine, wine64 and wine32 in the chroot"
        in_root dpkg --add-architecture i386
        in_root apt-get update -qq
        DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq wine wine64 wine32 >"$dir/wine-install.log" 2>&1 ||
            { tail -20 "$dir/wine-install.log"; exit 1; }
        in_root apt-get clean
        touch "$dir/ready-wine"
    fi
    if [ ! -f "$dir/prefix/.vlm-ready" ]; then
        log "the Wine prefix"
        rm -rf "$dir/prefix"
        in_root /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
        in_root wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        in_root wineserver -w
        touch "$dir/prefix/.vlm-ready"
    fi
    touch "$dir/active"
    log "ready"
}

case "$action" in
    setup) setup ;;
    teardown) teardown ;;
    *) echo "usage: $0 setup|teardown <dir>" >&2; exit 2 ;;
esac
