#!/usr/bin/python3
"""Runs one command of the benchmark and appends one JSON line about it to a
file: wall time, the CPU time of every process it started (Wine's processes
included, which the command's own resource usage would not count: Wine starts
a program in a grandchild that leaves its parent), the peak RSS of each by
name, the CPU time the prefix's wineserver spent meanwhile, the machine's load
at the start, and the command's output when that is one JSON object.

    bench_measure.py OUT.jsonl TAG [--prefix WINEPREFIX] -- COMMAND...

It becomes a child subreaper, so that every process below it, however
started, is reaped by it with its resource usage."""
import ctypes
import json
import os
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
TICK = os.sysconf("SC_CLK_TCK")


def stat(pid):
    """(parent pid, name, CPU seconds) of a process, or None once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return None
    name = text[text.index("(") + 1:text.rindex(")")]
    fields = text[text.rindex(")") + 2:].split()
    return int(fields[1]), name, (int(fields[11]) + int(fields[12])) / TICK


def wineserver(prefix):
    if not prefix:
        return None
    want = ("WINEPREFIX=" + prefix).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        s = stat(pid)
        if not s or not s[1].startswith("wineserver"):
            continue
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                if want in f.read().split(b"\0"):
                    return pid
        except OSError:
            pass
    return None


def descendants(root, names):
    """Records the name of every living process below root."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            s = stat(int(entry))
            if s:
                parents[int(entry)] = (s[0], s[1])
    for pid, (ppid, name) in parents.items():
        seen = set()
        p = ppid
        while p and p not in seen and p != root:
            seen.add(p)
            p = parents.get(p, (0, ""))[0]
        if p == root:
            names[pid] = name


def main():
    args = sys.argv[1:]
    out, tag = args[0], args[1]
    prefix = None
    rest = args[2:]
    if rest[:1] == ["--prefix"]:
        prefix, rest = rest[1], rest[2:]
    command = rest[1:] if rest[:1] == ["--"] else rest
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("prctl(PR_SET_CHILD_SUBREAPER) failed")
    server = wineserver(prefix)
    server_before = stat(server)[2] if server else 0.0
    load = os.getloadavg()
    names, reaped = {}, []
    started = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.PIPE)
    main_pid, wall, ended = child.pid, None, None
    me = os.getpid()
    polls = 0
    while True:
        # Names every 100 ms (a scan of /proc costs), reaping every 5 ms (the wall time's resolution).
        if polls % 20 == 0:
            descendants(me, names)
        polls += 1
        while True:
            try:
                pid, status, usage = os.wait4(-1, os.WNOHANG)
            except ChildProcessError:
                pid = -1
                break
            if pid == 0:
                break
            reaped.append({"name": names.get(pid, "?"), "cpu": usage.ru_utime + usage.ru_stime,
                           "maxrss_kib": usage.ru_maxrss})
            if pid == main_pid:
                wall = time.monotonic() - started
                child.returncode = os.waitstatus_to_exitcode(status)
                ended = time.monotonic()
        if pid == -1:
            break
        # Processes still running long after the command ended are not its own.
        if ended and time.monotonic() - ended > 10:
            break
        time.sleep(0.005)
    text = child.stdout.read().decode(errors="replace").strip()
    try:
        inner = json.loads(text.splitlines()[-1]) if text else None
    except ValueError:
        inner = None
    server_after = stat(server)[2] if server and stat(server) else server_before
    record = {"tag": tag, "exit": child.returncode, "wall": wall, "load": load[0],
              "cpu": sum(r["cpu"] for r in reaped), "server_cpu": server_after - server_before,
              "procs": reaped, "inner": inner}
    with open(out, "a") as f:
        f.write(json.dumps(record) + "\n")
    sys.exit(0 if child.returncode == 0 else 1)


main()
