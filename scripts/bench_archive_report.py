#!/usr/bin/python3
"""The Markdown report of scripts/bench_archive.sh, from what it left in its
work folder: runs.txt (one line per timed process), inner.txt (what the probe
reported of itself), the archives, parts.jsonl and mem-*.jsonl."""
import json
import os
import statistics
import sys
import zipfile
import zlib

work, tree_bytes, tree_files, runs, load_before, load_after = sys.argv[1:]

rows = {}
for line in open(os.path.join(work, "runs.txt")):
    parts = line.split()
    if len(parts) == 6 and parts[0] in ("tree", "file"):
        s, label, wall, user, sys_, rss = parts
        rows.setdefault((s, label), []).append((float(wall), float(user) + float(sys_), int(rss)))
inner = {}
for line in open(os.path.join(work, "inner.txt")):
    s, label, workers, ws = line.split()
    inner.setdefault((s, label), []).append((int(workers), int(ws)))


def jsonl(tag):
    with open(os.path.join(work, tag + ".jsonl")) as f:
        return [json.loads(line) for line in f if line.strip()]


def med(values):
    return statistics.median(values)


def spread(values):
    return "%.2f (%.2f–%.2f)" % (med(values), min(values), max(values))


def output(s, label):
    return os.path.getsize(os.path.join(work, "%s-%s.%s" % (s, label, "gz" if label.startswith("pigz") else "zip")))


def today(archive):
    """Size of the same archive with every file deflated as one stream, as
    the writer did before it cut large files into blocks. Python's zlib is the
    same version at the same settings: the files still deflated whole must
    come out at exactly the size they have in the archive."""
    ours_total = whole_total = same = whole_files = 0
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            with open(os.path.join(work, *info.filename.split("/")), "rb") as f:
                c = zlib.compressobj(-1, zlib.DEFLATED, -15, 8)
                n = len(c.compress(f.read()) + c.flush())
            whole_total += n
            ours_total += info.compress_size
            if info.file_size <= 1 << 20:
                whole_files += 1
                same += n == info.compress_size
    return os.path.getsize(archive) - ours_total + whole_total, same, whole_files


print("Load before: `%s`  \nLoad after: `%s`\n" % (load_before.strip(), load_after.strip()))
print("Tree: %.1f MiB in %s files; the large file is its tar. %s interleaved rounds: median (lowest–highest).\n"
      % (int(tree_bytes) / 2**20, tree_files, runs))
names = {"ours1": "our archiving, 1 worker", "oursN": "our archiving, %d workers",
         "pigz1": "pigz -p1 -6 (of the tar)", "pigz2": "pigz -p2 -6 (of the tar)", "infozip": "Info-ZIP zip -r -6"}
for s, title in (("tree", "Mixed tree"), ("file", "One large file")):
    walls = {label: [r[0] for r in v] for (ss, label), v in rows.items() if ss == s}
    cpus = {label: [r[1] for r in v] for (ss, label), v in rows.items() if ss == s}
    p_wall, p_cpu, z_wall = med(walls["pigz1"]), med(cpus["pigz1"]), med(walls["infozip"])
    print("%s:\n" % title)
    print("| contender | wall s | CPU s | peak RSS MiB | output MiB | wall / pigz -p1 | wall / Info-ZIP | CPU / pigz -p1 |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for label in ("ours1", "oursN", "pigz1", "pigz2", "infozip"):
        name = names[label] % inner[(s, label)][0][0] if label == "oursN" else names[label]
        rss = max(r[2] for r in rows[(s, label)]) / 1024
        print("| %s | %s | %s | %.1f | %.2f | %.2f | %.2f | %.2f |" % (
            name, spread(walls[label]), spread(cpus[label]), rss, output(s, label) / 2**20,
            med(walls[label]) / p_wall, med(walls[label]) / z_wall, med(cpus[label]) / p_cpu))
    print()

for s, title in (("tree", "mixed tree"), ("file", "large file")):
    archive = os.path.join(work, "%s-oursN.zip" % s)
    then, same, whole_files = today(archive)
    now = os.path.getsize(archive)
    print("Size, %s: %.3f MiB; with every file one deflate stream %.3f MiB (%+.3f %%); "
          "%d of %d files up to 1 MiB at exactly that size.  " % (
              title, now / 2**20, then / 2**20, 100.0 * (now - then) / then, same, whole_files))
print()
for s, title in (("tree", "mixed tree"), ("file", "large file (incompressible parts fill the buffers)")):
    print("Peak working set inside the process, all workers, %s: %.1f MiB.  " % (
        title, max(ws for _, ws in inner[(s, "oursN")]) / 2**20))
print()

parts = jsonl("parts")
print("Where the time goes (on the tar of the tree, inside a Wine process):\n")
print("| part | wall s | CPU s |")
print("| --- | ---: | ---: |")
for label, r in zip(("read, 1 MiB chunks", "read + CRC-32, 1 MiB chunks",
                     "deflate in memory, one thread (Windows build of zlib)"), parts):
    print("| %s | %.2f | %.2f |" % (label, r["seconds"], r["cpu"]))
print()
small, big = jsonl("mem-small")[0], jsonl("mem-big")[0]
print("Memory: peak working set archiving one small file %.1f MiB; one 5 GiB file (zeros) %.1f MiB (%.1f s); "
      "growth %.2f MiB." % (small["peak_working_set"] / 2**20, big["peak_working_set"] / 2**20, big["seconds"],
                            (big["peak_working_set"] - small["peak_working_set"]) / 2**20))
# The zeros leave the output buffers nearly untouched; the large file, with
# its pictures and archives that do not compress, fills them.
noisy = max(ws for _, ws in inner[("file", "oursN")])
print("The large file (the tar) against the same small file: growth %.2f MiB." % (
    (noisy - small["peak_working_set"]) / 2**20))
