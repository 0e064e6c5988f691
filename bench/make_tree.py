#!/usr/bin/env python3
"""Builds a synthetic folder tree of realistic shape for the search benchmark.

    make_tree.py DIR [--folders N] [--files M] [--seed S] [--max-depth D]

Folders grow by preferential attachment (a folder with many subfolders tends to get more),
damped by depth, so the tree has a few wide hubs, many small folders and some depth down to
--max-depth. Files go to folders with heavy-tailed weights (some folders hold hundreds, many a
handful, some none). File names mix common patterns and extensions; a few use non-ASCII
letters. Files are sparse: they take no disk blocks, only their names and sizes matter.
Names are unique per folder ignoring case (the share is case-insensitive) and never start
with '.'. The same seed gives the same tree.

Prints a JSON summary on stdout: counts, depth histogram, widest folder, apparent size.
"""
import argparse
import json
import math
import os
import random
import sys

FOLDER_WORDS = [
    "Projects", "Archive", "Clients", "Invoices", "Photos", "Scans", "Reports", "Drafts",
    "Backup", "Templates", "Meetings", "HR", "Finance", "Marketing", "Sales", "Source",
    "Docs", "Music", "Video", "Misc", "Old", "New folder", "Shared", "Team", "Budget",
    "Contracts", "Exports", "Logs", "Data", "Images", "Assets", "Build", "Release", "Test",
    "Users", "Presentations", "Minutes", "Research", "Training", "Legal", "Support",
    "Customers", "Suppliers", "Orders", "Planning", "Design", "Website", "Manuals",
    "Übersicht", "Général", "Año",
]
YEARS = [str(y) for y in range(2008, 2025)]
MONTHS = ["01 January", "02 February", "03 March", "04 April", "05 May", "06 June", "07 July",
          "08 August", "09 September", "10 October", "11 November", "12 December"]
STEM_WORDS = [
    "report", "invoice", "budget", "notes", "minutes", "draft", "final", "summary", "plan",
    "offer", "contract", "letter", "memo", "agenda", "schedule", "inventory", "backup",
    "export", "scan", "photo", "holiday", "meeting", "project", "customer", "price list",
    "results", "analysis", "presentation", "manual", "readme", "setup", "config", "data",
    "résumé", "Bericht", "Rechnung", "会議",
]

# extension, weight, median size in bytes, spread (sigma of the log-normal)
EXTENSIONS = [
    ("jpg", 14, 2_500_000, 0.6), ("JPG", 5, 3_500_000, 0.5), ("png", 6, 300_000, 1.2),
    ("pdf", 10, 400_000, 1.5), ("docx", 8, 60_000, 1.0), ("doc", 3, 80_000, 1.0),
    ("xlsx", 6, 40_000, 1.2), ("txt", 8, 3_000, 1.5), ("log", 4, 50_000, 2.0),
    ("csv", 4, 200_000, 2.0), ("zip", 3, 20_000_000, 2.0), ("mp3", 4, 5_000_000, 0.5),
    ("mp4", 2, 150_000_000, 1.0), ("html", 2, 20_000, 1.0), ("xml", 2, 10_000, 1.5),
    ("json", 2, 5_000, 1.5), ("cs", 2, 8_000, 1.0), ("cpp", 2, 12_000, 1.0),
    ("h", 2, 3_000, 1.0), ("py", 2, 6_000, 1.0), ("exe", 1, 5_000_000, 1.5),
    ("dll", 1, 1_000_000, 1.5), ("iso", 0.2, 700_000_000, 0.8), ("bak", 1, 10_000_000, 2.0),
    ("tar.gz", 1, 30_000_000, 1.5), ("pptx", 2, 3_000_000, 1.0), ("", 1, 1_000, 2.0),
]
DEPTH_FACTOR = [0.25, 0.6, 0.9, 0.9, 0.7, 0.5, 0.3, 0.15]


def folder_name(rng, depth):
    r = rng.random()
    if depth >= 1 and r < 0.12:
        return rng.choice(YEARS)
    if depth >= 2 and r < 0.18:
        return rng.choice(MONTHS)
    if r < 0.30:
        return f"{rng.choice(FOLDER_WORDS)} {rng.choice(YEARS)}"
    if r < 0.38:
        return f"{rng.choice(FOLDER_WORDS)}_{rng.randint(1, 40):02d}"
    return rng.choice(FOLDER_WORDS)


def file_stem(rng):
    r = rng.random()
    if r < 0.15:
        return f"IMG_{rng.randint(0, 9999):04d}"
    if r < 0.22:
        return f"DSC{rng.randint(0, 99999):05d}"
    if r < 0.35:
        return f"{rng.choice(STEM_WORDS)}_{rng.choice(YEARS)}_{rng.randint(1, 12):02d}"
    if r < 0.50:
        return f"{rng.choice(STEM_WORDS)} {rng.choice(STEM_WORDS)}"
    if r < 0.60:
        return f"{rng.choice(STEM_WORDS).capitalize()} v{rng.randint(1, 9)} final"
    if r < 0.75:
        return f"{rng.choice(STEM_WORDS)}-{rng.randint(1, 99999)}"
    return f"{rng.choice(STEM_WORDS)}{rng.randint(1, 999)}"


def unique(name, taken):
    candidate, n = name, 2
    while candidate.casefold() in taken:
        candidate = f"{name} ({n})"
        n += 1
    taken.add(candidate.casefold())
    return candidate


def unique_file(stem, ext, taken):
    suffix = f".{ext}" if ext else ""
    candidate, n = stem + suffix, 2
    while candidate.casefold() in taken:
        candidate = f"{stem} ({n}){suffix}"
        n += 1
    taken.add(candidate.casefold())
    return candidate


def build(root, n_folders, n_files, seed, max_depth):
    rng = random.Random(seed)
    # Folder i: path relative to root, depth, names taken in it (case-folded).
    paths = [""]
    depths = [0]
    taken = [set()]
    children = [0]
    # Preferential attachment: a folder appears in the urn once, plus once per subfolder.
    urn = [0]
    while len(paths) < n_folders + 1:
        parent = urn[rng.randrange(len(urn))]
        d = depths[parent]
        if d >= max_depth or rng.random() > DEPTH_FACTOR[min(d, len(DEPTH_FACTOR) - 1)]:
            continue
        name = unique(folder_name(rng, d), taken[parent])
        paths.append(os.path.join(paths[parent], name))
        depths.append(d + 1)
        taken.append(set())
        children.append(0)
        children[parent] += 1
        urn.append(parent)
        if d + 1 < max_depth:
            urn.append(len(paths) - 1)

    for p in paths[1:]:
        os.mkdir(os.path.join(root, p))

    # Heavy-tailed file counts: Pareto weights, a tenth of the folders (never the top) empty.
    weights = [0.0 if i and rng.random() < 0.10 else min(rng.paretovariate(1.4), 100.0) for i in range(len(paths))]
    cumulative, total = [], 0.0
    for w in weights:
        total += w
        cumulative.append(total)
    ext_names = [e[0] for e in EXTENSIONS]
    ext_weights = [e[1] for e in EXTENSIONS]
    ext_info = {e[0]: e for e in EXTENSIONS}
    files_in = [0] * len(paths)
    apparent = 0
    for _ in range(n_files):
        folder = rng.choices(range(len(paths)), cum_weights=cumulative)[0]
        ext = rng.choices(ext_names, weights=ext_weights)[0]
        _, _, median, sigma = ext_info[ext]
        size = int(median * math.exp(rng.gauss(0, sigma)))
        if rng.random() < 0.02:
            size = 0
        name = unique_file(file_stem(rng), ext, taken[folder])
        path = os.path.join(root, paths[folder], name)
        with open(path, "wb") as f:
            f.truncate(size)
        files_in[folder] += 1
        apparent += size

    hist = {}
    for d in depths[1:]:
        hist[d] = hist.get(d, 0) + 1
    widest = max(range(len(paths)), key=lambda i: children[i] + files_in[i])
    return {
        "folders": len(paths) - 1,
        "files": n_files,
        "entries": len(paths) - 1 + n_files,
        "depth_histogram": {str(k): hist[k] for k in sorted(hist)},
        "max_subfolders": max(children),
        "max_files_in_folder": max(files_in),
        "empty_folders": sum(1 for i in range(1, len(paths)) if files_in[i] == 0 and children[i] == 0),
        "widest_folder": paths[widest] or ".",
        "widest_folder_entries": children[widest] + files_in[widest],
        "apparent_bytes": apparent,
        "seed": seed,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dir")
    ap.add_argument("--folders", type=int, default=2400)
    ap.add_argument("--files", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--max-depth", type=int, default=7)
    args = ap.parse_args()
    if args.folders < 1 or args.files < 0 or not 1 <= args.max_depth <= 32:
        ap.error("need --folders >= 1, --files >= 0, 1 <= --max-depth <= 32")
    os.makedirs(args.dir, exist_ok=True)
    if os.listdir(args.dir):
        sys.exit(f"make_tree: {args.dir} is not empty")
    summary = build(args.dir, args.folders, args.files, args.seed, args.max_depth)
    json.dump(summary, sys.stdout)
    print()


if __name__ == "__main__":
    main()
