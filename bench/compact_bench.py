#!/usr/bin/env python3
"""Compact patches against base patches, rsync batches and per-file zstd --patch-from; see
bench/compact_bench.sh. Writes the section "Compact patches" of bench/results.md."""
import argparse
import datetime
import os
import random
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (the timing and tree helpers of the main benchmark)
from bench import WORK, OSTMERE, GEN, measure, q, sh, warm, fresh_copy, mib, tree_size  # noqa

RESULTS = os.path.join(bench.HERE, "results.md")
SECTION = "## Compact patches"

WORDS = ("value index buffer result count error file path node tree item record size offset "
         "return const static struct void uint64_t size_t string begin end first second next "
         "open close read write check update insert remove find load store parse format "
         "if else for while switch case break continue auto template class public private").split()


def text_file(rng, size):
    """Source-like text: indented lines of identifiers, as a text-heavy tree holds."""
    lines = []
    total = 0
    while total < size:
        depth = rng.randrange(4)
        line = "    " * depth + " ".join(rng.choice(WORDS) for _ in range(rng.randrange(3, 10)))
        line += rng.choice([";", " {", "", "}", ");"]) + "\n"
        lines.append(line)
        total += len(line)
    return "".join(lines).encode()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def small_content(rng, i):
    size = rng.randrange(500, 8000)
    return text_file(rng, size) if i % 2 else rng.randbytes(size)


def make_mixed(base, big_mib):
    """(a) 4,000 small files and 4 large ones; a few percent of the small files changed,
    added or removed, and 1 KiB of one large file rewritten."""
    old, new = base + "/old", base + "/new"
    rng = random.Random(7)
    for i in range(4000):
        data = small_content(rng, i)
        rel = f"d{i % 40}/s{i % 7}/f{i}"
        write(f"{old}/{rel}", data)
        if i % 100 == 0:
            continue  # removed
        if i % 33 == 1:  # changed: half edited in place, half written anew
            if i % 2:
                cut = len(data) // 2
                data = data[:cut] + text_file(rng, 200) + data[cut + 100:]
            else:
                data = small_content(rng, i)
        write(f"{new}/{rel}", data)
    for i in range(40):
        write(f"{new}/added/a{i}", small_content(rng, i))
    for i in range(4):
        path = f"big/b{i}.bin"
        write(f"{old}/{path}", rng.randbytes(big_mib << 20))
    sh(f"cp -a {q(old)}/big {q(new)}/big")
    with open(f"{new}/big/b2.bin", "r+b") as f:
        f.seek((big_mib << 20) // 3)
        f.write(rng.randbytes(1024))
    return old, new


def make_text(base, mib_total):
    """(c) a text-heavy tree of mib_total MiB: the system's C and C++ headers in path order
    (real text, as a build output or release mirror holds); its vault is of an empty tree,
    so the patch carries all of it."""
    old, new = base + "/old", base + "/new"
    os.makedirs(old, exist_ok=True)
    total = 0
    for root, dirs, files in sorted(os.walk("/usr/include")):
        dirs.sort()
        for name in sorted(files):
            src = os.path.join(root, name)
            if os.path.islink(src) or not os.path.isfile(src) or total >= mib_total << 20:
                continue
            with open(src, "rb") as f:
                data = f.read()
            write(os.path.join(new, os.path.relpath(src, "/usr/include")), data)
            total += len(data)
    return old, new


def tree(name, make):
    base = os.path.join(WORK, "compact-" + name)
    if not os.path.exists(base + "/done"):
        if os.path.exists(base):
            sh(f"chmod -R u+w {q(base)}; rm -rf {q(base)}")
        os.makedirs(base)
        make(base)
        open(base + "/done", "w").close()
    return base, base + "/old", base + "/new"


def stored_paths(old, new):
    """Relative paths of the newer tree's files that are new or differ from the older tree."""
    out = sh(f"rsync -a -c --dry-run --out-format='%n' {q(new)}/ {q(old)}/", capture_output=True,
             text=True).stdout
    return [p for p in out.splitlines() if p and not p.endswith("/")]


def patch_from_bytes(base, old, new):
    """Sum of per-file zstd -3 --patch-from (or plain zstd -3 for new files): the anchor."""
    total = 0
    for rel in stored_paths(old, new):
        src, ref = os.path.join(new, rel), os.path.join(old, rel)
        size_mib = max(os.path.getsize(src), os.path.getsize(ref) if os.path.exists(ref) else 0)
        longopt = f"--long={max(10, (size_mib * 2).bit_length())}"
        if os.path.exists(ref):
            cmd = f"zstd -q -3 {longopt} --patch-from={q(ref)} -c {q(src)} | wc -c"
        else:
            cmd = f"zstd -q -3 -c {q(src)} | wc -c"
        total += int(sh(cmd, capture_output=True, text=True).stdout)
    return total


def bench_diff_tree(name, base, old, new, runs):
    print(f"{name}:", flush=True)
    warm(old, new)
    r = {"bytes": tree_size(new)}
    p_base, p_comp, batch, copy = (base + "/base.tkp", base + "/compact.tkp", base + "/batch",
                                   base + "/copy")
    r["create_base"], r["create_compact"] = measure_pair(
        f"{q(OSTMERE)} -q diff {q(old)} {q(new)} {q(p_base)}",
        f"{q(OSTMERE)} -q diff --compact {q(old)} {q(new)} {q(p_comp)}", runs=runs)
    r["create_rsync"] = measure(
        f"rm -f {q(batch)} {q(batch)}.sh; rsync -a --delete --no-whole-file "
        f"--only-write-batch={q(batch)} {q(new)}/ {q(old)}/", runs=runs)
    print(f"  create: base {r['create_base'][0]:.2f} s, compact {r['create_compact'][0]:.2f} s, "
          f"rsync {r['create_rsync'][0]:.2f} s", flush=True)
    r["apply_base"], r["apply_compact"] = measure_pair(
        f"{q(OSTMERE)} -q apply {q(copy)} {q(p_base)}",
        f"{q(OSTMERE)} -q apply {q(copy)} {q(p_comp)}", prepare=fresh_copy(old, copy), runs=runs)
    sh(f"diff -r {q(copy)} {q(new)} > /dev/null")  # the patched copy must equal the newer tree
    r["apply_rsync"] = measure(f"rsync -a --delete --read-batch={q(batch)} {q(copy)}/",
                               prepare=fresh_copy(old, copy), runs=runs)
    print(f"  apply: base {r['apply_base'][0]:.2f} s, compact {r['apply_compact'][0]:.2f} s, "
          f"rsync {r['apply_rsync'][0]:.2f} s", flush=True)
    r["size_base"] = os.path.getsize(p_base)
    r["size_compact"] = os.path.getsize(p_comp)
    r["size_rsync"] = os.path.getsize(batch)
    r["size_patch_from"] = patch_from_bytes(base, old, new)
    print(f"  sizes: base {mib(r['size_base'])}, compact {mib(r['size_compact'])}, rsync "
          f"{mib(r['size_rsync'])}, zstd --patch-from {mib(r['size_patch_from'])}", flush=True)
    sh(f"chmod -R u+w {q(copy)}; rm -rf {q(copy)}")
    return r


def bench_vault_tree(name, base, old, new, runs):
    print(f"{name}:", flush=True)
    warm(new)
    r = {"bytes": tree_size(new)}
    vault, p_base, p_comp, copy = (base + "/old.tkv", base + "/base.tkp", base + "/compact.tkp",
                                   base + "/copy")
    sh(f"{q(OSTMERE)} -q vault {q(old)} {q(vault)}")
    r["create_base"], r["create_compact"] = measure_pair(
        f"{q(OSTMERE)} -q diff-vault {q(new)} {q(vault)} {q(p_base)}",
        f"{q(OSTMERE)} -q diff-vault --compact {q(new)} {q(vault)} {q(p_comp)}", runs=runs)
    r["apply_base"], r["apply_compact"] = measure_pair(
        f"{q(OSTMERE)} -q apply {q(copy)} {q(p_base)}",
        f"{q(OSTMERE)} -q apply {q(copy)} {q(p_comp)}", prepare=fresh_copy(old, copy), runs=runs)
    sh(f"diff -r {q(copy)} {q(new)} > /dev/null")
    r["size_base"] = os.path.getsize(p_base)
    r["size_compact"] = os.path.getsize(p_comp)
    r["size_zstd"] = int(sh(f"tar -C {q(new)} -cf - . | zstd -q -3 -c | wc -c",
                            capture_output=True, text=True).stdout)
    print(f"  sizes: base {mib(r['size_base'])}, compact {mib(r['size_compact'])}; create "
          f"{r['create_base'][0]:.2f} / {r['create_compact'][0]:.2f} s", flush=True)
    sh(f"chmod -R u+w {q(copy)}; rm -rf {q(copy)}")
    return r


def measure_pair(first, second, prepare=None, runs=3):
    """Both commands measured in turns, so that neither always runs on the file system state
    the other left behind; medians as measure gives them."""
    results = {first: [], second: []}
    for _ in range(runs):
        for command in (first, second):
            results[command].append(bench.timed(command, prepare))

    def summary(r):
        return (bench.statistics.median(x[0] for x in r), max(x[1] for x in r),
                bench.statistics.median(x[2] for x in r))
    return summary(results[first]), summary(results[second])


def ratio(a, b):
    return f"{a / b:.2f}" if b else ""


def section(results, runs):
    lines = [SECTION, "",
             f"Date: {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC  ",
             f"Machine: {bench.machine_line()}  ",
             f"Run: bench/compact_bench.sh; each time is the median of {runs} runs with the page "
             "cache warm (base and compact runs taking turns); memory is the largest peak RSS of those runs. zstd level 3, frames of "
             "4 MiB, deltas against the older file's slice around each frame.", "",
             "(a) 4,000 small files (half text, half random) and 4 × 48 MiB, 3 % of the small "
             "files changed, 1 % added and removed, 1 KiB of one large file rewritten. "
             "(b) the main benchmark's large tree: 8 files, 2 GiB, with partial changes. "
             "(c) ~20 MiB of text: the system's headers (/usr/include) in path order, as "
             "diff-vault against the vault of an empty tree (every file stored).", "",
             "Each frame is coded as a delta against the older file where diff has it, else "
             "compressed, and stored as is when coding does not make it smaller. rsync batches "
             "are written with --no-whole-file (delta transfer, as between machines); "
             "zstd --patch-from is run per stored file with a window covering the file.", "",
             "| tree | measure | compact | peer | ratio | goal |", "|---|---|---|---|---|---|"]

    def number(text):
        return float(re.match(r"[\d.]+", text).group())

    def row(tree_name, measure_name, ours, peer, goal=""):
        lines.append(f"| {tree_name} | {measure_name} | {ours} | {peer} | "
                     f"{ratio(number(ours), number(peer))} | {goal} |")

    for key, name, goal_rsync in (("a", "(a) small + 4 × 48 MiB", "≤ 1.5"),
                                  ("b", "(b) 8 large, 2 GiB", "≤ 1.2")):
        r = results.get(key)
        if not r:
            continue
        row(name, "patch size vs rsync batch", mib(r["size_compact"]), mib(r["size_rsync"]),
            goal_rsync)
        row(name, "patch size vs zstd --patch-from per file", mib(r["size_compact"]),
            mib(r["size_patch_from"]))
        row(name, "patch size vs base patch", mib(r["size_compact"]), mib(r["size_base"]))
        row(name, "create vs base diff", f"{r['create_compact'][0]:.2f} s",
            f"{r['create_base'][0]:.2f} s", "≤ 2")
        row(name, "create vs rsync --only-write-batch", f"{r['create_compact'][0]:.2f} s",
            f"{r['create_rsync'][0]:.2f} s")
        row(name, "apply vs base apply", f"{r['apply_compact'][0]:.2f} s",
            f"{r['apply_base'][0]:.2f} s", "≤ 1.2")
        row(name, "apply vs rsync --read-batch", f"{r['apply_compact'][0]:.2f} s",
            f"{r['apply_rsync'][0]:.2f} s")
        row(name, "peak RSS create: compact / base", mib(r["create_compact"][1] * 1024),
            mib(r["create_base"][1] * 1024), "≤ 256 MiB" if key == "b" else "")
        row(name, "peak RSS apply: compact / base", mib(r["apply_compact"][1] * 1024),
            mib(r["apply_base"][1] * 1024), "≤ 256 MiB" if key == "b" else "")
    r = results.get("c")
    if r:
        name = "(c) text, diff-vault"
        row(name, "patch size vs base patch", mib(r["size_compact"]), mib(r["size_base"]), "≤ 0.3")
        row(name, "patch size vs tar piped to zstd -3", mib(r["size_compact"]), mib(r["size_zstd"]))
        row(name, "create vs base diff-vault", f"{r['create_compact'][0]:.2f} s",
            f"{r['create_base'][0]:.2f} s", "≤ 2")
        row(name, "apply vs base apply", f"{r['apply_compact'][0]:.2f} s",
            f"{r['apply_base'][0]:.2f} s", "≤ 1.2")
        row(name, "peak RSS create: compact / base", mib(r["create_compact"][1] * 1024),
            mib(r["create_base"][1] * 1024))
    return "\n".join(lines) + "\n"


def store(text):
    with open(RESULTS) as f:
        current = f.read()
    start = current.find(SECTION)
    if start >= 0:
        end = current.find("\n## ", start + len(SECTION))
        current = current[:start] + text + ("" if end < 0 else current[end:])
    else:
        current = current.rstrip("\n") + "\n\n" + text
    with open(RESULTS, "w") as f:
        f.write(current)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--trees", default="a,b,c")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--large-mib", type=int, default=2048)
    args = parser.parse_args()
    results = {}
    trees = args.trees.split(",")
    if "c" in trees:
        base, old, new = tree("text", lambda b: make_text(b, 20))
        results["c"] = bench_vault_tree("(c) text", base, old, new, args.runs)
    if "a" in trees:
        base, old, new = tree("mixed", lambda b: make_mixed(b, 48))
        results["a"] = bench_diff_tree("(a) small + large", base, old, new, args.runs)
    if "b" in trees:
        base, old, new, _ = bench.generate("large", args.large_mib)
        results["b"] = bench_diff_tree("(b) large", base, old, new, args.runs)
    text = section(results, args.runs)
    print(text)
    store(text)


if __name__ == "__main__":
    main()
