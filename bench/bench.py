#!/usr/bin/env python3
"""Measures ostmere against openssl and rsync on generated trees; see bench/run.sh."""
import argparse
import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(HERE, "work")
TOP = os.path.dirname(HERE)
OSTMERE = os.path.join(TOP, "build", "ostmere")
BASELINE_NAME = ""
BASELINE = None  # an earlier build of ostmere measured beside this one (--baseline)
APPLY_ONLY = False
GEN = os.path.join(WORK, "gen")
RUNS = 3

# (kind, scale) per size: small files count, large total MiB, mixed small files count.
SIZES = {
    "full": {"small": 50000, "large": 2048, "mixed": 10000, "memcheck": (50000, 200000)},
    "quick": {"small": 5000, "large": 256, "mixed": 1000, "memcheck": (5000, 20000)},
}


def sh(command, **kw):
    return subprocess.run(command, shell=True, check=True, executable="/bin/bash", **kw)


def timed(command, prepare=None):
    """Wall time, peak RSS (KiB) and CPU time (user + system) of one run of command, prepare
    run untimed before. CPU time is much less disturbed than wall time by other load."""
    if prepare:
        sh(prepare)
    log = os.path.join(WORK, "time.log")
    start = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-v", "-o", log, "/bin/bash", "-c", command], check=True,
                   stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(log) as f:
        text = f.read()

    def field(name):
        return float(re.search(name + r": ([\d.]+)", text).group(1))

    rss = int(field(r"Maximum resident set size \(kbytes\)"))
    return elapsed, rss, field(r"User time \(seconds\)") + field(r"System time \(seconds\)")


def measure(command, prepare=None, runs=RUNS):
    """Median wall time, largest peak RSS and median CPU time over runs."""
    results = [timed(command, prepare) for _ in range(runs)]
    return (statistics.median(r[0] for r in results), max(r[1] for r in results),
            statistics.median(r[2] for r in results))


def q(path):
    return "'" + path.replace("'", "'\\''") + "'"


def generate(kind, scale, seed=1):
    base = os.path.join(WORK, f"{kind}-{scale}")
    old, new, stored = base + "/old", base + "/new", base + "/stored.txt"
    if not os.path.exists(base + "/done"):
        if os.path.exists(base):
            sh(f"chmod -R u+w {q(base)}; rm -rf {q(base)}")
        os.makedirs(base)
        start = time.perf_counter()
        sh(f"{q(GEN)} {kind} {scale} {seed} {q(old)} {q(new)} {q(stored)}")
        print(f"  generated {kind} tree in {time.perf_counter() - start:.1f} s", flush=True)
        open(base + "/done", "w").close()
    return base, old, new, stored


def fresh_copy(old, copy):
    return f"if [ -e {q(copy)} ]; then chmod -R u+w {q(copy)}; rm -rf {q(copy)}; fi; " \
           f"cp -a {q(old)} {q(copy)}; sync -f {q(copy)}"


def warm(*trees):
    for t in trees:
        sh(f"find {q(t)} -type f -print0 | xargs -0 cat > /dev/null")


def hashing(trees):
    return "find " + " ".join(q(t) for t in trees) + \
           " -type f -print0 | xargs -0 openssl sha1 > /dev/null"


def tree_size(path):
    out = sh(f"du -sb {q(path)}", capture_output=True, text=True).stdout
    return int(out.split()[0])


def bench_tree(kind, scale):
    print(f"{kind} tree ({scale}):", flush=True)
    base, old, new, stored = generate(kind, scale)
    patch, batch, plain = base + "/patch.tkp", base + "/batch-c", base + "/batch"
    copy, scratch = base + "/copy", base + "/scratch"
    warm(old, new)
    nfiles = int(sh(f"find {q(new)} -type f | wc -l", capture_output=True, text=True).stdout)
    r = {"files": nfiles, "bytes": tree_size(new)}

    diff_cmd = f"{q(OSTMERE)} --quiet diff {q(old)} {q(new)} {q(patch)}"
    # --only-write-batch leaves the destination untouched, so the older tree itself serves.
    batch_c_cmd = (f"rm -f {q(batch)} {q(batch)}.sh; rsync -a -c --delete "
                   f"--only-write-batch={q(batch)} {q(new)}/ {q(old)}/")
    plain_cmd = (f"rm -f {q(plain)} {q(plain)}.sh; rsync -a --delete "
                 f"--only-write-batch={q(plain)} {q(new)}/ {q(old)}/")
    if APPLY_ONLY:
        for command in (diff_cmd, batch_c_cmd, plain_cmd):
            sh(command, stdout=subprocess.DEVNULL)
    else:
        r["fp"] = measure(f"{q(OSTMERE)} --quiet fingerprint {q(new)}")
        r["sha_new"] = measure(hashing([new]))
        print(f"  fingerprint {r['fp'][0]:.2f} s, openssl {r['sha_new'][0]:.2f} s", flush=True)
        r["diff"] = measure(diff_cmd)
        r["rsync_c"] = measure(batch_c_cmd)
        r["rsync"] = measure(plain_cmd)
        r["sha_both"] = measure(hashing([old, new]))
        print(f"  diff {r['diff'][0]:.2f} s, rsync -c {r['rsync_c'][0]:.2f} s, "
              f"rsync {r['rsync'][0]:.2f} s, floor {r['sha_both'][0]:.2f} s", flush=True)

    r["apply"] = measure(f"{q(OSTMERE)} --quiet apply {q(copy)} {q(patch)}",
                         prepare=fresh_copy(old, copy))
    sh(f"diff -r {q(copy)} {q(new)} > /dev/null")  # the patched copy must equal the newer tree
    r["rsync_read"] = measure(f"rsync -a --delete --read-batch={q(plain)} {q(copy)}/",
                              prepare=fresh_copy(old, copy))
    # Floor: the fingerprint before and after, and the stored files' bytes written once.
    floor = (f"{hashing([old])}; {hashing([old])}; "
             f"cd {q(new)} && xargs -d '\\n' cp --parents -t {q(scratch)} < {q(stored)}")
    r["apply_floor"] = measure(floor, prepare=f"rm -rf {q(scratch)}; mkdir {q(scratch)}")
    # The same with the written bytes synced to disk once, as a durable apply must.
    r["apply_floor_sync"] = measure(f"{floor} && sync -f {q(scratch)}",
                                    prepare=f"rm -rf {q(scratch)}; mkdir {q(scratch)}")
    print(f"  apply {r['apply'][0]:.2f} s, rsync {r['rsync_read'][0]:.2f} s, "
          f"floor {r['apply_floor'][0]:.2f} s, floor + sync {r['apply_floor_sync'][0]:.2f} s",
          flush=True)
    if BASELINE:
        r["apply_base"] = measure(f"{q(BASELINE)} --quiet apply {q(copy)} {q(patch)}",
                                  prepare=fresh_copy(old, copy))
        sh(f"diff -r {q(copy)} {q(new)} > /dev/null")
        print(f"  apply with the baseline build {r['apply_base'][0]:.2f} s", flush=True)

    r["patch_size"] = os.path.getsize(patch)
    r["batch_size"] = os.path.getsize(plain)
    r["batch_c_size"] = os.path.getsize(batch)
    sh(f"chmod -R u+w {q(copy)} {q(scratch)}; rm -rf {q(copy)} {q(scratch)}")
    return r


def memcheck(counts):
    rows = []
    for count in counts:
        print(f"memory check, small tree of {count} files:", flush=True)
        base, old, new, _ = generate("small", count)
        warm(old, new)
        fp = timed(f"{q(OSTMERE)} --quiet fingerprint {q(new)}")
        diff = timed(f"{q(OSTMERE)} --quiet diff {q(old)} {q(new)} {q(base + '/patch.tkp')}")
        paths = int(sh(f"find {q(old)} {q(new)} | sed 's|^{old}||; s|^{new}||' | "
                       "awk '{n += length($0)} END {print n}'",
                       capture_output=True, text=True).stdout)
        rows.append((count, fp, diff, paths))
        print(f"  fingerprint {fp[1] / 1024:.1f} MiB, diff {diff[1] / 1024:.1f} MiB", flush=True)
    return rows


def machine_line():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    sha = "sha_ni" in open("/proc/cpuinfo").read()
    return (f"{os.cpu_count()} CPUs, {model}{' (SHA-NI)' if sha else ''}, "
            f"{mem_kib / 1048576:.1f} GiB memory, {platform.system()} {platform.release()}")


def mib(n):
    return f"{n / 1048576:.1f} MiB"


def table(results, mem_rows, size):
    out = []
    out.append(f"# Benchmark results\n")
    out.append(f"Date: {datetime.datetime.utcnow():%Y-%m-%d %H:%M} UTC  ")
    out.append(f"Machine: {machine_line()}  ")
    out.append(f"Run: {size}; each time is the median of {RUNS} runs with the page cache warm; "
               "memory is the largest peak RSS of those runs.\n")
    if BASELINE:
        out.append(f"Baseline: `{BASELINE_NAME}`, the same measures in the same run.\n")
    out.append("Ratios are ostmere's time over the peer's (lower is better), except hashing, "
               "which is openssl's time over ostmere's (throughput ratio, higher is better). "
               "CPU is user + system time of all processes of the command; on a loaded machine "
               "it is the steadier figure.\n")
    out.append("| tree | measure | ostmere | peer | ratio | ostmere CPU | peer CPU | CPU ratio "
               "| goal |")
    out.append("|---|---|---|---|---|---|---|---|---|")
    for kind, r in results.items():
        tree = f"{kind} ({r['files']} files, {mib(r['bytes'])})"

        def row(measure, ours, peer, goal, invert=False):
            a, b = r[ours], r[peer]
            ratio, cpu_ratio = (b[0] / a[0], b[2] / a[2]) if invert else (a[0] / b[0], a[2] / b[2])
            out.append(f"| {tree} | {measure} | {a[0]:.2f} s | {b[0]:.2f} s | {ratio:.2f} | "
                       f"{a[2]:.2f} s | {b[2]:.2f} s | {cpu_ratio:.2f} | {goal} |")

        def plain(measure, ours, peer, ratio=""):
            out.append(f"| {tree} | {measure} | {ours} | {peer} | {ratio} | | | | |")

        if "fp" in r:
            row("hashing: fingerprint vs openssl sha1", "fp", "sha_new", "≥ 0.9", invert=True)
            row("create: diff vs rsync -c batch", "diff", "rsync_c", "≤ 0.6")
            row("create: diff vs rsync batch", "diff", "rsync", "")
            row("create: diff vs hashing floor", "diff", "sha_both", "≤ 1.2")
        row("apply vs rsync read-batch", "apply", "rsync_read", "")
        row("apply vs apply floor", "apply", "apply_floor", "≤ 1.3")
        row("apply vs apply floor + one sync", "apply", "apply_floor_sync", "≤ 1.3")
        if "apply_base" in r:
            row("baseline apply vs rsync read-batch", "apply_base", "rsync_read", "")
            row("baseline apply vs apply floor", "apply_base", "apply_floor", "≤ 1.3")
            row("apply vs baseline apply (staging, checking, syncing)", "apply", "apply_base",
                "")
        plain("patch size vs rsync batch size", mib(r["patch_size"]), mib(r["batch_size"]),
              f"{r['patch_size'] / r['batch_size']:.2f}")
        if "fp" in r:
            plain("peak RSS fingerprint / openssl", mib(r["fp"][1] * 1024),
                  mib(r["sha_new"][1] * 1024))
            plain("peak RSS diff / rsync -c", mib(r["diff"][1] * 1024),
                  mib(r["rsync_c"][1] * 1024))
        plain("peak RSS apply / rsync read-batch", mib(r["apply"][1] * 1024),
              mib(r["rsync_read"][1] * 1024))
    if mem_rows:
        out.append("\nPeak RSS on the small-file tree by file count (one run each):\n")
        out.append("| files | fingerprint | diff | bytes of relative paths, both trees |")
        out.append("|---|---|---|---|")
        for count, fp, diff, paths in mem_rows:
            out.append(f"| {count} | {mib(fp[1] * 1024)} | {mib(diff[1] * 1024)} | "
                       f"{mib(paths)} |")
    return "\n".join(out) + "\n"


def build_baseline(commit):
    """Builds the program of an earlier commit into bench/work/base-COMMIT/ (once)."""
    src = os.path.join(WORK, f"base-{commit}")
    program = os.path.join(src, "build", "ostmere")
    if not os.path.exists(program):
        sh(f"rm -rf {q(src)}; mkdir -p {q(src)}; "
           f"git -C {q(TOP)} archive {q(commit)} | tar -x -C {q(src)}")
        sh(f"cmake -S {q(src)} -B {q(src)}/build -DCMAKE_BUILD_TYPE=Release -DOSTMERE_GUI=OFF "
           f"-DOSTMERE_TESTS=OFF -DOSTMERE_BENCH=OFF > /dev/null && "
           f"cmake --build {q(src)}/build -j2 --target ostmere > /dev/null")
    return program


def main():
    global OSTMERE, BASELINE, BASELINE_NAME, APPLY_ONLY
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true", help="small trees, under two minutes")
    parser.add_argument("--trees", default="small,large,mixed",
                        help="comma-separated subset of small,large,mixed")
    parser.add_argument("--no-memcheck", action="store_true")
    parser.add_argument("--large-mib", type=int, help="total size of the large-file tree")
    parser.add_argument("--output", default=os.path.join(HERE, "results.md"))
    parser.add_argument("--ostmere", default=OSTMERE, help="the program to measure")
    parser.add_argument("--baseline", metavar="COMMIT",
                        help="also measure apply with the program built from COMMIT")
    parser.add_argument("--apply-only", action="store_true",
                        help="measure only apply (the patch and batches are made untimed)")
    args = parser.parse_args()
    OSTMERE = os.path.abspath(args.ostmere)
    APPLY_ONLY = args.apply_only
    if args.baseline:
        BASELINE_NAME = args.baseline
        BASELINE = build_baseline(args.baseline)
    size = "quick" if args.quick else "full"
    scales = dict(SIZES[size])
    if args.large_mib:
        scales["large"] = args.large_mib
    results = {}
    for kind in args.trees.split(","):
        results[kind] = bench_tree(kind, scales[kind])
    mem_rows = [] if args.no_memcheck or APPLY_ONLY else memcheck(scales["memcheck"])
    text = table(results, mem_rows, size)
    print(text)
    with open(args.output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
