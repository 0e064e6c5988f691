#!/usr/bin/env python3
"""Helpers of search-benchmark.sh: pick the subtree, count and compare rows, print the report.

    bench_util.py pick-subtree ROOT TARGET_FOLDERS
    bench_util.py smbclient-count LISTING
    bench_util.py normalise OUTPUT UNC_PREFIX NORMALISED
    bench_util.py compare-find OUTPUT UNC_PREFIX FIND_LISTING
    bench_util.py tree-info TREE_JSON
    bench_util.py walls RUNS_JSONL
    bench_util.py report WORKDIR
"""
import json
import os
import re
import sys

# smbclient `ls` entry: two spaces, name, attributes, size, date ("Sun Dec  6 20:48:41 2026").
SMBCLIENT_ENTRY = re.compile(
    r"^  (?P<name>.*?)\s+(?P<attr>[A-Z]*)\s+(?P<size>\d+)\s+"
    r"\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$")


def pick_subtree(root, target):
    """The folder below ROOT whose subtree (itself included) has the folder count closest to
    TARGET; ties go to the shallower, then the first by name. Prints: path, folders, files."""
    folders, files = {}, {}
    for path, dirnames, filenames in os.walk(root, topdown=False):
        folders[path] = 1 + sum(folders[os.path.join(path, d)] for d in dirnames)
        files[path] = len(filenames) + sum(files[os.path.join(path, d)] for d in dirnames)
    candidates = [p for p in folders if p != root]
    if not candidates:
        sys.exit("pick-subtree: no folder below the top")
    best = min(candidates, key=lambda p: (abs(folders[p] - target), p.count(os.sep), p))
    print(f"{os.path.relpath(best, root)}\t{folders[best]}\t{files[best]}")


def smbclient_count(listing):
    """Entries in a recursive smbclient listing, . and .. excluded. Fails on a line it cannot
    read, so a format surprise never passes as a count."""
    count, folders = 0, 0
    with open(listing, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("  "):
                m = SMBCLIENT_ENTRY.match(line)
                if not m:
                    sys.exit(f"smbclient-count: cannot read line {line!r}")
                if m.group("name") not in (".", ".."):
                    count += 1
            elif line.startswith("\\"):
                folders += 1
    print(count)


def read_rows(output, prefix):
    """Our text output: one row per line, 'PATH<TAB>SIZE'. Yields the path below PREFIX."""
    with open(output, "rb") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip(b"\n").decode("utf-8", "surrogateescape")
            path = line.split("\t", 1)[0]
            if not path.startswith(prefix + "\\"):
                sys.exit(f"{output}:{number}: row not below {prefix}: {line!r}")
            yield path[len(prefix) + 1:], line


def normalise(output, prefix, normalised):
    """Our output with the location prefix (which names the server) replaced by '<LOC>', so
    runs through different addresses compare byte for byte."""
    with open(normalised, "wb") as out:
        for _, line in read_rows(output, prefix):
            out.write(("<LOC>" + line[len(prefix):] + "\n").encode("utf-8", "surrogateescape"))


def compare_find(output, prefix, find_listing):
    """Our paths against the paths find printed (relative, '/' separated), as sets."""
    ours = [rel.replace("\\", "/") for rel, _ in read_rows(output, prefix)]
    with open(find_listing, "rb") as f:
        disk = [l.rstrip(b"\n").decode("utf-8", "surrogateescape") for l in f]
    ours_set, disk_set = set(ours), set(disk)
    dup = len(ours) - len(ours_set)
    missing, extra = sorted(disk_set - ours_set), sorted(ours_set - disk_set)
    if dup or missing or extra:
        print(f"duplicates={dup} missing={len(missing)} extra={len(extra)} "
              f"e.g. missing {missing[:3]} extra {extra[:3]}")
        sys.exit(1)
    print(f"same {len(ours)} paths")


def tree_info(path):
    with open(path) as f:
        t = json.load(f)
    depths = ", ".join(f"{d}: {n}" for d, n in t["depth_histogram"].items())
    print(f"{t['folders']} folders, {t['files']} files; folders per depth {{{depths}}}; "
          f"at most {t['max_subfolders']} subfolders and {t['max_files_in_folder']} files in "
          f"one folder; {t['empty_folders']} empty folders; seed {t['seed']}")


def walls(path):
    with open(path) as f:
        runs = [json.loads(l) for l in f if l.strip()]
    print(", ".join(f"{r['wall']:.2f}" for r in runs) + " s")


# --- report -----------------------------------------------------------------------------

def runs_of(work, key):
    path = os.path.join(work, key + ".jsonl")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(l) for l in f if l.strip()]


def best(runs):
    return min(r["wall"] for r in runs) if runs else None


def best_cpu(runs):
    """CPU seconds of the fastest run."""
    return min(runs, key=lambda r: r["wall"]).get("cpu") if runs else None


def peak(runs, name):
    values = [r["peaks"].get(name, {}).get("max_kb", 0) for r in runs]
    values = [v for v in values if v]
    return max(values) if values else None


def fmt_s(v):
    if v is None:
        return "-"
    return f"{v:.3f}" if v < 1 else f"{v:.2f}"


def fmt_mb(kb):
    return "-" if kb is None else f"{kb / 1024:.1f}"


def read_kv(path):
    out = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                k, _, v = line.rstrip("\n").partition("\t")
                out[k] = v
    return out


def target_for(level):
    """Speed-up over smbclient wanted at a round trip of LEVEL ms (the largest step below)."""
    steps = [(0, 1.0), (10, 5.0), (50, 8.0)]
    want = None
    for at, factor in steps:
        if level >= at:
            want = factor
    return want


def report(work):
    meta = read_kv(os.path.join(work, "meta.tsv"))
    plan = []
    with open(os.path.join(work, "plan.tsv")) as f:
        for line in f:
            level, loc = line.split()
            plan.append((int(level), loc))
    sweep = meta.get("sweep", "").split()
    workers_name = "vuvuveva-smb-wo"  # /proc truncates names to 15 characters

    lines = []
    lines.append(f"Tree: {meta['tree']}")
    lines.append(f"Our search: default --jobs {meta.get('default_jobs', '?')} unless a column says otherwise")
    if meta.get("search_args"):
        lines.append(f"Our search ran with: {meta['search_args']}")
    for loc in sorted({l for _, l in plan}):
        lines.append(f"Location {loc}: {meta['loc.' + loc]}")
    lines.append("")
    head = ["RTT set", "RTT seen", "location", "ours s", "smbclient s", "smbclient/ours",
            "target", "met", "find s", "rows ours", "rows smbclient", "rows find",
            "CLI peak MiB", "worker peak MiB", "CPU s ours/smbclient", "runs o/s"]
    lines.append("| " + " | ".join(head) + " |")
    lines.append("|" + "---|" * len(head))
    verdicts = []
    for level, loc in plan:
        ours = runs_of(work, f"{level}ms-{loc}-ours")
        smbc = runs_of(work, f"{level}ms-{loc}-smbclient")
        find = runs_of(work, f"find-{loc}")
        t_ours, t_smbc = best(ours), best(smbc)
        ratio = t_smbc / t_ours if t_ours and t_smbc else None
        want = target_for(level)
        # The 0 ms target is judged on the whole tree, the others wherever they were run.
        judged = want is not None and ratio is not None and (level > 0 or loc == "full")
        met = "-" if not judged else ("yes" if ratio >= want else "NO")
        if judged:
            verdicts.append((level, loc, ratio, want, met))
        rows = read_kv(os.path.join(work, f"{level}ms-{loc}.rows"))
        rtt = read_kv(os.path.join(work, f"{level}ms.rtt")).get("median_ms", "-")
        lines.append("| " + " | ".join([
            f"{level} ms", f"{rtt} ms", loc, fmt_s(t_ours), fmt_s(t_smbc),
            "-" if ratio is None else f"{ratio:.2f}x",
            "-" if want is None or not judged else f">= {want:g}x", met, fmt_s(best(find)),
            rows.get("ours", "-"), rows.get("smbclient", "-"), rows.get("find", "-"),
            fmt_mb(peak(ours, "vuvuveva-cli")), fmt_mb(peak(ours, workers_name)),
            f"{fmt_s(best_cpu(ours))}/{fmt_s(best_cpu(smbc))}",
            f"{len(ours)}/{len(smbc)}",
        ]) + " |")

    if sweep:
        lines.append("")
        lines.append("Jobs sweep (best wall time in seconds; speed-up over smbclient in brackets):")
        lines.append("")
        head = ["RTT set", "location", f"default ({meta.get('default_jobs', '?')})"] + \
            [f"--jobs {j}" for j in sweep]
        lines.append("| " + " | ".join(head) + " |")
        lines.append("|" + "---|" * len(head))
        for level, loc in plan:
            t_smbc = best(runs_of(work, f"{level}ms-{loc}-smbclient"))
            cells = [f"{level} ms", loc]
            for key in ["ours"] + [f"ours-j{j}" for j in sweep]:
                t = best(runs_of(work, f"{level}ms-{loc}-{key}"))
                if t is None:
                    cells.append("-")
                elif t_smbc:
                    cells.append(f"{fmt_s(t)} ({t_smbc / t:.1f}x)")
                else:
                    cells.append(fmt_s(t))
            lines.append("| " + " | ".join(cells) + " |")

    checks_path = os.path.join(work, "checks.txt")
    checks = open(checks_path).read().splitlines() if os.path.exists(checks_path) else []
    failed = [c for c in checks if not c.startswith("OK")]
    lines.append("")
    lines.append(f"Correctness: {len(checks) - len(failed)} checks passed, {len(failed)} failed")
    for c in failed:
        lines.append("  " + c)
    lines.append("Targets: " + ("; ".join(
        f"{lv} ms ({loc}): {r:.2f}x vs >= {w:g}x {'met' if m == 'yes' else 'MISSED'}"
        for lv, loc, r, w, m in verdicts) or "none judged"))
    print("\n".join(lines))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "pick-subtree" and len(args) == 2:
        pick_subtree(args[0].rstrip("/"), int(args[1]))
    elif cmd == "smbclient-count" and len(args) == 1:
        smbclient_count(args[0])
    elif cmd == "normalise" and len(args) == 3:
        normalise(*args)
    elif cmd == "compare-find" and len(args) == 3:
        compare_find(*args)
    elif cmd == "tree-info" and len(args) == 1:
        tree_info(args[0])
    elif cmd == "walls" and len(args) == 1:
        walls(args[0])
    elif cmd == "report" and len(args) == 1:
        report(args[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
