#!/usr/bin/env python3
"""Scaling benchmark: ostmere on trees of many small files, a deep directory chain, a patch
holding one very deep path, and large files; with rsync -c and plain hashing beside it.

    bench/scale.py [--sizes 100000,1000000] [--runs 3]

Trees are made once in bench/work/scale/ by scale_gen.py. Each figure is the median of the
runs (wall and user+system CPU); memory is the largest peak RSS of the runs. Prints Markdown.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(HERE, "work", "scale")
OSTMERE = os.environ.get("OSTMERE", os.path.join(HERE, "..", "build", "ostmere"))
DEEP_PATCH = os.path.join(HERE, "..", "build", "deep_patch")


def timed(cmd, runs, shell=False, before=None):
    walls, cpus, peak = [], [], 0
    for _ in range(runs):
        if before:
            before()
        out = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "sh", "-c", cmd]
                             if shell else ["/usr/bin/time", "-f", "%e %U %S %M"] + cmd,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        last = out.stderr.strip().splitlines()[-1].split()
        if out.returncode != 0:
            sys.exit("failed: %s\n%s" % (cmd, out.stderr))
        walls.append(float(last[0]))
        cpus.append(float(last[1]) + float(last[2]))
        peak = max(peak, int(last[3]))
    return statistics.median(walls), statistics.median(cpus), peak / 1024.0


def ost(*args):
    return [OSTMERE, "--quiet"] + list(args)


def tree_rows(n, runs):
    tag = "t%dk" % (n // 1000) if n < 1000000 else "t%dm" % (n // 1000000)
    old, new = os.path.join(WORK, tag + ".old"), os.path.join(WORK, tag + ".new")
    if not os.path.isdir(new):
        subprocess.check_call([sys.executable, os.path.join(HERE, "scale_gen.py"), "files",
                               str(n), old, new])
    empty = os.path.join(WORK, "empty")
    os.makedirs(empty, exist_ok=True)
    out = os.path.join(WORK, "out")
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)
    rows = {}
    rows["fingerprint"] = timed(ost("fingerprint", new), runs)
    rows["vault"] = timed(ost("vault", old, p("old.tkv")), runs)
    rows["diff"] = timed(ost("diff", old, new, p("d.tkp")), runs)
    rows["diff-vault"] = timed(ost("diff-vault", new, p("old.tkv"), p("v.tkp")), runs)
    rows["diff from empty (all files)"] = timed(ost("diff", empty, new, p("all.tkp")), runs)
    rows["query (all-files patch)"] = timed(ost("query", p("all.tkp"), p("all.xml")), runs)
    rows["peer: rsync -c batch"] = timed(
        "rsync -a -c --delete --only-write-batch=%s %s/ %s/" % (p("batch"), new, old), runs,
        shell=True)
    rows["peer: find | sha1sum (both trees)"] = timed(
        "find %s %s -type f -print0 | xargs -0 sha1sum > /dev/null" % (old, new), runs, shell=True)
    return rows


def deep_rows(runs):
    out = os.path.join(WORK, "out")
    os.makedirs(out, exist_ok=True)
    chain = os.path.join(WORK, "chain")
    if not os.path.isdir(chain):
        subprocess.check_call([sys.executable, os.path.join(HERE, "scale_gen.py"), "chain",
                               "5000", chain])
    rows = {}
    empty = os.path.join(WORK, "empty")
    rows["chain 5,000: fingerprint"] = timed(ost("fingerprint", chain), runs)
    rows["chain 5,000: diff from empty"] = timed(
        ost("diff", empty, chain, os.path.join(out, "chain.tkp")), runs)
    rows["chain 5,000: query"] = timed(
        ost("query", os.path.join(out, "chain.tkp"), os.path.join(out, "chain.xml")), runs)
    sizes = {"chain 5,000 report": os.path.getsize(os.path.join(out, "chain.xml")),
             "chain 5,000 patch": os.path.getsize(os.path.join(out, "chain.tkp"))}
    for n in (50000, 100000):
        patch = os.path.join(out, "deep%d.tkp" % n)
        subprocess.check_call([DEEP_PATCH, str(n), patch])
        rows["path of %d components: query" % n] = timed(
            ost("query", patch, os.path.join(out, "deep%d.xml" % n)), runs)
        sizes["path of %d components: patch" % n] = os.path.getsize(patch)
        sizes["path of %d components: report" % n] = os.path.getsize(
            os.path.join(out, "deep%d.xml" % n))
    return rows, sizes


def large_rows(runs):
    old, new = os.path.join(WORK, "large.old"), os.path.join(WORK, "large.new")
    out = os.path.join(WORK, "out")
    files = " ".join(os.path.join(new, "f%d.bin" % i) for i in range(8))
    rows = {}
    rows["fingerprint"] = timed(ost("fingerprint", new), runs)
    rows["peer: openssl sha1 (one core)"] = timed("openssl sha1 %s" % files, runs, shell=True)
    rows["diff"] = timed(ost("diff", old, new, os.path.join(out, "large.tkp")), runs)
    rows["peer: openssl sha1 both trees"] = timed(
        "openssl sha1 %s/* %s/*" % (old, new), runs, shell=True)
    rows["peer: rsync -c batch"] = timed(
        "rsync -a -c --only-write-batch=%s %s/ %s/" % (os.path.join(out, "lbatch"), new, old),
        runs, shell=True)
    return rows


def table(title, rows):
    print("\n### %s\n" % title)
    print("| operation | wall (s) | CPU (s) | peak RSS (MiB) |")
    print("|---|---|---|---|")
    for k, (w, c, m) in rows.items():
        print("| %s | %.2f | %.2f | %.1f |" % (k, w, c, m))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="100000,1000000")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--big-runs", type=int, default=1)
    ap.add_argument("--parts", default="files,deep,large")
    a = ap.parse_args()
    parts = a.parts.split(",")
    results = {}
    if "files" in parts:
        for n in [int(x) for x in a.sizes.split(",")]:
            results[n] = tree_rows(n, a.runs if n <= 100000 else a.big_runs)
            table("%d small files (0-2 KiB; newer tree: 1 %% rewritten, 0.5 %% added)" % n,
                  results[n])
            sys.stdout.flush()
        if len(results) == 2:
            lo, hi = sorted(results)
            print("\n### growth %d / %d files\n" % (hi, lo))
            print("| operation | wall ratio | CPU ratio | memory ratio |")
            print("|---|---|---|---|")
            for k in results[lo]:
                w0, c0, m0 = results[lo][k]
                w1, c1, m1 = results[hi][k]
                print("| %s | %.1f | %.1f | %.1f |" % (k, w1 / max(w0, 0.01), c1 / max(c0, 0.01),
                                                       m1 / max(m0, 0.1)))
    if "deep" in parts:
        rows, sizes = deep_rows(a.runs)
        table("deep paths", rows)
        print()
        for k, v in sizes.items():
            print("- %s: %.2f MiB" % (k, v / 1048576.0))
    if "large" in parts:
        table("8 files of 128 MiB (newer tree: one file rewritten)", large_rows(a.runs))


if __name__ == "__main__":
    main()
