#!/bin/bash
# Benchmark of the archive step's archiving against Info-ZIP zip and a bare
# zlib deflate of the same bytes (pigz, one thread), all on one mixed tree of
# about 200 MiB; then the memory of archiving a 5 GiB file against a small one.
#
#   scripts/bench_archive.sh [build dir] [work dir] [runs]
#
# The build dir must hold archive_probe.exe (cmake --build <dir> --target
# archive_probe) and the wine-run wrapper. Prints a Markdown report.
set -euo pipefail

build=$(realpath "${1:-build}")
work=$(realpath -m "${2:-/tmp/vlm-bench}")
runs=${3:-3}
probe="${PROBE:-$build/bin/archive_probe.exe}"  # PROBE: another build of it, e.g. with another zlib
wine_run="$build/wine-run"
for tool in zip pigz tar /usr/bin/time /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$wine_run" ] && [ -f "$probe" ] || { echo "build archive_probe in $build first" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
tree="$work/Prog"
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# The tree: program files, help texts, data tables, pictures and archives that
# do not compress, and thousands of small files in nested folders.
/usr/bin/python3 - "$tree" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1234)
def put(rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
pool = [rng.randbytes(rng.randint(4, 40)) for _ in range(3000)] + [bytes(rng.randint(8, 64))] * 300
def program(size):
    out, n = [], 0
    while n < size:
        piece = rng.choice(pool) if rng.random() < 0.85 else rng.randbytes(rng.randint(16, 200))
        out.append(piece)
        n += len(piece)
    return b"".join(out)[:size]
words = ("Zeugnis Schüler Klasse Note Fach Halbjahr Bemerkung Versetzung Deutsch Mathematik Englisch "
         "Biologie Sport gut befriedigend ausreichend sehr <p> </p> <td> </td> = [Setup] \r\n").split(" ")
def text(size):
    out, n = [], 0
    while n < size:
        w = rng.choice(words) + rng.choice((" ", " ", " ", "\r\n"))
        out.append(w)
        n += len(w)
    return "".join(out).encode()[:size]
def table(size):
    rec = []
    n = 0
    while n < size:
        r = b"%-30s%-20s%08d%6.2f" % (rng.choice(words).encode(), rng.choice(words).encode(),
                                      rng.randrange(10**8), rng.random() * 6)
        rec.append(r)
        n += len(r)
    return b"".join(rec)[:size]
for i in range(8):
    put("Programm/Modul%02d.dll" % i, program(6 * 2**20))
put("Velmora10.EXE", program(12 * 2**20))
for i in range(120):
    put("Hilfe/Kapitel%02d/seite%03d.htm" % (i % 12, i), text(300 * 1024))
for i in range(6):
    put("Daten/Tabelle%d.dbf" % i, table(5 * 2**20))
for i in range(5):
    put("Bilder/foto%d.jpg" % i, rng.randbytes(10 * 2**20))
put("Setup/alt.zip", rng.randbytes(8 * 2**20))
for i in range(4000):
    size = rng.randint(256, 12 * 1024)
    data = text(size) if i % 3 else program(size)
    put("Vorlagen/%s/%s/v%04d.%s" % ("ABCDEFGHIJ"[i % 10], "xyz"[i % 3], i, ("rtf", "ini", "dat")[i % 3]), data)
EOF
tree_bytes=$(du -sb "$tree" | cut -f1)
tree_files=$(find "$tree" -type f | wc -l)
(cd "$work" && tar -cf "$work/tree.tar" Prog)
cat "$work/tree.tar" > /dev/null   # everything in the page cache for every contender

# A running wineserver for the prefix, so that no run pays for starting it.
eval "$(grep '^export WINEPREFIX=' "$wine_run")"
wineserver -p 60 2>/dev/null || true  # already running is as good

probe_run() {  # commands... -> results file
    printf '%s\n' "$@" > "$work/cmd.txt"
    "$wine_run" "$probe" "$(winpath "$work/cmd.txt")" "$(winpath "$work/res.jsonl")" >/dev/null 2>&1
}
field() { /usr/bin/python3 -c "import json,sys; print(json.loads(open(sys.argv[1]).readlines()[int(sys.argv[2])])[sys.argv[3]])" "$work/res.jsonl" "$1" "$2"; }
timed() {  # label command... ; appends "label wall cpu maxrss_kib" to runs.txt
    local label=$1; shift
    /usr/bin/time -f "$label %e %U %S %M" -a -o "$work/runs.txt" "$@"
}

: > "$work/runs.txt"
: > "$work/inner.txt"
for run in $(seq "$runs"); do
    rm -f "$work/ours.zip" "$work/infozip.zip" "$work/pigz.gz"
    printf 'zip\t%s\t%s\n' "$(winpath "$tree")" "$(winpath "$work/ours.zip")" > "$work/cmd.txt"
    timed ours "$wine_run" "$probe" "$(winpath "$work/cmd.txt")" "$(winpath "$work/res.jsonl")"
    echo "ours $(field 0 seconds) $(field 0 cpu) $(field 0 peak_working_set)" >> "$work/inner.txt"
    (cd "$work" && timed infozip zip -r -6 -q infozip.zip Prog)
    timed pigz sh -c "pigz -p1 -6 -c '$work/tree.tar' > '$work/pigz.gz'"
done

# Where the time goes: reading through Wine, CRC-32, and deflate of the same
# bytes by the Windows build of zlib, each on the tar of the tree.
tar_win=$(winpath "$work/tree.tar")
probe_run "$(printf 'read\t%s\t1048576\t0' "$tar_win")" "$(printf 'read\t%s\t1048576\t1' "$tar_win")" \
          "$(printf 'read\t%s\t65536\t0' "$tar_win")" "$(printf 'deflate\t%s' "$tar_win")"
breakdown=$(/usr/bin/python3 -c "
import json,sys
r=[json.loads(l) for l in open(sys.argv[1])]
print('| read, 1 MiB chunks | %.2f | %.2f |' % (r[0]['seconds'], r[0]['cpu']))
print('| read + CRC-32, 1 MiB chunks | %.2f | %.2f |' % (r[1]['seconds'], r[1]['cpu']))
print('| read, 64 KiB chunks | %.2f | %.2f |' % (r[2]['seconds'], r[2]['cpu']))
print('| deflate in memory (Windows build of zlib) | %.2f | %.2f |' % (r[3]['seconds'], r[3]['cpu']))
" "$work/res.jsonl")
buffers=""
for size in 65536 262144 1048576 4194304; do
    rm -f "$work/buf.zip"
    probe_run "$(printf 'zip\t%s\t%s\t%s' "$(winpath "$tree")" "$(winpath "$work/buf.zip")" "$size")"
    buffers+="| $((size / 1024)) KiB | $(field 0 seconds) | $(field 0 cpu) |"$'\n'
done

# Memory: a 5 GiB file (sparse: zeros) against a small one, each in a fresh process.
mkdir -p "$work/mem-big/Gross" "$work/mem-small/Klein"
truncate -s 5G "$work/mem-big/Gross/fuenf.bin"
head -c 100000 "$work/tree.tar" > "$work/mem-small/Klein/klein.bin"
probe_run "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-small/Klein")" "$(winpath "$work/mem-small.zip")")"
small_ws=$(field 0 peak_working_set)
probe_run "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-big/Gross")" "$(winpath "$work/mem-big.zip")")"
big_ws=$(field 0 peak_working_set)
big_secs=$(field 0 seconds)
rm -f "$work/mem-big/Gross/fuenf.bin"

/usr/bin/python3 - "$work" "$tree_bytes" "$tree_files" "$runs" "$small_ws" "$big_ws" "$big_secs" <<EOF
import os, statistics, sys
work, tree_bytes, tree_files, runs, small_ws, big_ws, big_secs = sys.argv[1:]
rows = {}
for line in open(os.path.join(work, "runs.txt")):
    parts = line.split()
    if len(parts) == 5 and parts[0] in ("ours", "infozip", "pigz"):
        label, wall, user, sys_, rss = parts
        rows.setdefault(label, []).append((float(wall), float(user) + float(sys_), int(rss)))
inner = [tuple(float(x) for x in l.split()[1:]) for l in open(os.path.join(work, "inner.txt"))]
sizes = {"ours": "ours.zip", "infozip": "infozip.zip", "pigz": "pigz.gz"}
def best(label):
    r = rows[label]
    return min(x[0] for x in r), min(x[1] for x in r), max(x[2] for x in r)
p_wall, p_cpu, _ = best("pigz")
names = {"ours": "our archiving (whole Wine process)", "infozip": "Info-ZIP zip -r -6", "pigz": "pigz -p1 -6 of the tar"}
print("Tree: %.1f MiB in %s files; best of %s runs.\n" % (int(tree_bytes) / 2**20, tree_files, runs))
print("| contender | wall s | CPU s | peak memory MiB | output MiB | wall / pigz | CPU / pigz |")
print("| --- | ---: | ---: | ---: | ---: | ---: | ---: |")
for label in ("ours", "infozip", "pigz"):
    wall, cpu, rss = best(label)
    size = os.path.getsize(os.path.join(work, sizes[label])) / 2**20
    print("| %s | %.2f | %.2f | %.1f | %.2f | %.2f | %.2f |" % (names[label], wall, cpu, rss / 1024, size, wall / p_wall, cpu / p_cpu))
w = min(i[0] for i in inner); c = min(i[1] for i in inner); ws = max(i[2] for i in inner)
print("| our archiving, DoZip alone (inside the process) | %.2f | %.2f | %.1f (working set) | | %.2f | %.2f |" % (w, c, ws / 2**20, w / p_wall, c / p_cpu))
print()
print("Where the time goes (on the tar of the tree, inside a Wine process):\n")
print("| part | wall s | CPU s |")
print("| --- | ---: | ---: |")
print("""$breakdown""")
print()
print("Buffer size of the archive writer (read chunk and write buffer), DoZip on the tree:\n")
print("| buffer | wall s | CPU s |")
print("| --- | ---: | ---: |")
print("""$buffers""".rstrip())
print()
print("Memory: peak working set archiving one small file %.1f MiB; one 5 GiB file %.1f MiB (%.1f s); growth %.2f MiB." % (
    int(small_ws) / 2**20, int(big_ws) / 2**20, float(big_secs), (int(big_ws) - int(small_ws)) / 2**20))
EOF
