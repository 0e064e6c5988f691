#!/usr/bin/env python3
"""Runs one command and measures its wall time and the peak memory of its processes.

    measure.py --stdout FILE [--stderr FILE] [--interval 0.05] -- CMD...

Prints one JSON line on our stdout: wall seconds, exit code, CPU seconds (user + system) of
the command and every descendant it waited for, and, for the command's descendant processes,
per program name: the peak resident set (VmHWM, KiB) of the largest single process
("max_kb"), how many processes of that name were seen, and their CPU seconds as last sampled
("cpu_s", a lower bound). VmHWM is the
kernel's own high-water mark of a process, read from /proc every --interval seconds while
the command runs, so it misses at most what a process adds in its last interval; new
processes are looked for every --scan seconds (long-lived workers are all found).
"""
import argparse
import json
import os
import subprocess
import sys
import threading
import time


def children_of(pids):
    """All processes whose parent is in pids (one scan of /proc)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # Field 4 (ppid) follows the command name in parentheses, which may hold spaces.
        rest = stat[stat.rfind(b")") + 2:].split()
        if len(rest) > 1 and int(rest[1]) in pids:
            found.append(int(entry))
    return found


CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_of(pid):
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rfind(b")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def status_of(pid):
    name, hwm = None, None
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("Name:"):
                    name = line.split(None, 1)[1].strip()
                elif line.startswith("VmHWM:"):
                    hwm = int(line.split()[1])
    except OSError:
        return None, None
    return name, hwm


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--stdout", required=True)
    ap.add_argument("--stderr", default=os.devnull)
    ap.add_argument("--interval", type=float, default=0.05, help="seconds between VmHWM reads")
    ap.add_argument("--scan", type=float, default=0.25, help="seconds between scans for new processes")
    ap.add_argument("--no-memory", action="store_true", help="time only")
    ap.add_argument("cmd", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    cmd = args.cmd[1:] if args.cmd[:1] == ["--"] else args.cmd
    if not cmd:
        ap.error("no command")

    # (pid, name) -> peak: the pid keeps its number through exec (testnet.sh exec -> ip ->
    # bash -> the program), and the kernel starts VmHWM afresh for each program.
    peaks = {}
    cpu = {}
    done = threading.Event()

    def sample(root):
        known = {root}
        next_scan = 0.0
        while not done.wait(args.interval):
            now = time.monotonic()
            if now >= next_scan:
                # Parents first: a scan finds only children of processes already known.
                while True:
                    more = set(children_of(known)) - known
                    if not more:
                        break
                    known |= more
                next_scan = now + args.scan
            for pid in list(known):
                name, hwm = status_of(pid)
                if hwm is None:
                    continue
                if hwm > peaks.get((pid, name), 0):
                    peaks[(pid, name)] = hwm
                used = cpu_of(pid)
                if used is not None:
                    cpu[(pid, name)] = used

    with open(args.stdout, "wb") as out, open(args.stderr, "ab") as err:
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        sampler = None
        if not args.no_memory:
            sampler = threading.Thread(target=sample, args=(proc.pid,), daemon=True)
            sampler.start()
        # Blocking wait4 (not Popen.wait, which polls): the exact end, and the rusage of the
        # command and the children it reaped.
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        except KeyboardInterrupt:
            proc.terminate()  # the command we started, by its PID
            proc.wait()
            done.set()
            sys.exit(130)
        wall = time.monotonic() - start
        code = os.waitstatus_to_exitcode(status)
        proc.returncode = code
        done.set()
        if sampler is not None:
            sampler.join()

    by_name = {}
    for key, hwm in peaks.items():
        entry = by_name.setdefault(key[1], {"max_kb": 0, "processes": 0, "cpu_s": 0.0})
        entry["max_kb"] = max(entry["max_kb"], hwm)
        entry["processes"] += 1
        entry["cpu_s"] = round(entry["cpu_s"] + cpu.get(key, 0.0), 2)
    total_cpu = round(usage.ru_utime + usage.ru_stime, 3)
    json.dump({"wall": round(wall, 4), "exit": code, "cpu": total_cpu, "peaks": by_name}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
