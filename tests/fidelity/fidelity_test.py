#!/usr/bin/env python3
"""Trees carried faithfully, judged by a walker that knows nothing of the engine.

For each pair of trees in CASES, a copy of the older tree is brought to the newer one twice:
by `diff` then `apply`, and by `vault`, `diff-vault` then `apply`. Afterwards the copy must
equal the newer tree in names, kinds, contents, link targets, permission bits (setuid and
setgid aside) and modification times; special files are not carried.

usage: fidelity_test.py OSTMERE"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from treewalk import describe  # noqa: E402

OSTMERE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "ostmere"
NOBODY = 65534
failures = []


def run(*args, user=None, expect=0):
    command = [OSTMERE, "--quiet", *args]
    if user is not None:
        command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups",
                   "sh", "-c", 'umask 000; exec "$@"', "sh", *command]
    done = subprocess.run(command, capture_output=True)
    if done.returncode != expect:
        raise AssertionError(f"{' '.join(map(str, args))}: exit {done.returncode}, "
                             f"{done.stderr.decode(errors='replace')}")
    return done


def write(path, data=b"", mode=None, mtime=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    if mode is not None:
        os.chmod(path, mode)
    if mtime is not None:
        os.utime(path, ns=(mtime, mtime))


def link(target, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)


def make_socket(path):
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    s.close()


# Each case: (name, build(older, newer, outside)); both trees start empty.
def modes(o, n, _):
    write(f"{o}/run.sh", "echo 1", 0o644)
    write(f"{n}/run.sh", "echo 2", 0o755)
    write(f"{o}/same", "s", 0o644)
    write(f"{n}/same", "s", 0o600)
    write(f"{n}/private", "p", 0o600)
    os.makedirs(f"{n}/secret")
    write(f"{n}/secret/key", "k", 0o400)
    os.chmod(f"{n}/secret", 0o700)
    os.makedirs(f"{n}/shared")
    os.chmod(f"{n}/shared", 0o1777)
    write(f"{n}/tool", "t", 0o4755)
    write(f"{n}/readonly", "r", 0o444)


def links(o, n, outside):
    write(f"{outside}/file", "outside")
    os.makedirs(f"{outside}/dir", exist_ok=True)
    for tree in (o, n):
        write(f"{tree}/a/f", "x")
        link("f", f"{tree}/a/same")
        link("old", f"{tree}/retarget")
        write(f"{tree}/becomes-link", "a/f")
        link("a/f", f"{tree}/becomes-file")
        os.makedirs(f"{tree}/dir-becomes-link/sub")
    os.remove(f"{n}/retarget")
    link("new", f"{n}/retarget")
    os.remove(f"{n}/becomes-link")
    link("a/f", f"{n}/becomes-link")
    os.remove(f"{n}/becomes-file")
    write(f"{n}/becomes-file", "a/f")
    shutil.rmtree(f"{n}/dir-becomes-link")
    link("a", f"{n}/dir-becomes-link")
    link("../a", f"{n}/a/up")
    link(".", f"{n}/self")
    link("nowhere", f"{n}/dangling")
    link(f"{outside}/file", f"{n}/to-outside-file")
    link(f"{outside}/dir", f"{n}/to-outside-dir")
    link(b"caf\xe9 \\ \n".decode(errors="surrogateescape"), f"{n}/odd-target")


def times(o, n, _):
    for tree in (o, n):
        write(f"{tree}/d/untouched", "u", mtime=1_400_000_000_000_000_000)
        write(f"{tree}/touched", "t", mtime=1_400_000_000_000_000_000)
    os.utime(f"{n}/touched", ns=(1_500_000_000_123_456_789,) * 2)
    write(f"{n}/d/new", "n", mtime=1_500_000_000_000_000_001)
    os.utime(f"{n}/d", ns=(1_600_000_000_000_000_000,) * 2)


def special(o, n, _):
    write(f"{o}/f", "1")
    write(f"{n}/f", "2")
    os.mkfifo(f"{n}/pipe")
    make_socket(f"{n}/sock")
    link("nowhere", f"{n}/dangling")


def names(o, n, _):
    odd = [b"back\\slash", b"caf\xe9", b"\xff\xfe", b"new\nline", b"\xef\x81\x9c", b"sp ace",
           b"dev-disk-by\\x2duuid.swap"]
    for raw in odd:
        name = raw.decode(errors="surrogateescape")
        write(f"{o}/{name}", "old")
        write(f"{n}/{name}", "new")
        write(f"{n}/d{name}/{name}", "inner")


CASES = [("modes", modes), ("links", links), ("times", times), ("special files", special),
         ("odd names", names)]


def compare(what, newer, target):
    want = describe(newer, setid=False, special=False)
    got = describe(target, setid=False, special=False)
    if want != got:
        lines = [f"  - {w}" for w in want if w not in got] + [f"  + {g}" for g in got if g not in want]
        failures.append(f"{what}: the copy differs from the newer tree\n" + "\n".join(lines))


def copy(older, target):
    shutil.copytree(older, target, symlinks=True)


def check_case(base, name, build):
    older, newer, outside = (os.path.join(base, d) for d in ("older", "newer", "outside"))
    for d in (older, newer, outside):
        os.makedirs(d)
    build(older, newer, outside)
    run("diff", older, newer, f"{base}/p.tkp")
    copy(older, f"{base}/t1")
    run("apply", f"{base}/t1", f"{base}/p.tkp")
    compare(f"{name}, diff", newer, f"{base}/t1")
    run("vault", older, f"{base}/v.tkv")
    run("diff-vault", newer, f"{base}/v.tkv", f"{base}/pv.tkp")
    copy(older, f"{base}/t2")
    run("apply", f"{base}/t2", f"{base}/pv.tkp")
    compare(f"{name}, diff-vault", newer, f"{base}/t2")
    return base


def check_outside_content_not_shipped(base):
    """A link to a file outside the tree ships its target text, never the file's bytes."""
    marker = b"outside-secret-4f1c9a"
    write(f"{base}/outside/secret", marker)
    write(f"{base}/outside/dir/inner", marker)
    os.makedirs(f"{base}/older")
    link(f"{base}/outside/secret", f"{base}/newer/leak")
    link(f"{base}/outside/dir", f"{base}/newer/leakdir")
    run("diff", f"{base}/older", f"{base}/newer", f"{base}/p.tkp")
    with open(f"{base}/p.tkp", "rb") as f:
        if marker in f.read():
            failures.append("a file outside the tree was shipped through a link")


def check_owner_kept(base):
    """Root replacing a changed file keeps the file's owner and group; new items are root's."""
    if os.geteuid() != 0:
        return
    write(f"{base}/older/f", "1")
    write(f"{base}/newer/f", "2")
    write(f"{base}/newer/g", "new")
    run("diff", f"{base}/older", f"{base}/newer", f"{base}/p.tkp")
    copy(f"{base}/older", f"{base}/t")
    os.chown(f"{base}/t/f", NOBODY, NOBODY)
    run("apply", f"{base}/t", f"{base}/p.tkp")
    owners = {n: (os.lstat(f"{base}/t/{n}").st_uid, os.lstat(f"{base}/t/{n}").st_gid)
              for n in ("f", "g")}
    if owners != {"f": (NOBODY, NOBODY), "g": (0, 0)}:
        failures.append(f"owners after apply as root: {owners}")


def check_as_ordinary_user(base):
    """An ordinary user under umask 000 gets exactly the recorded bits, never wider."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        return
    os.chmod(base, 0o755)
    os.makedirs(f"{base}/older")
    os.makedirs(f"{base}/newer")
    modes(f"{base}/older", f"{base}/newer", None)
    for directory, dirs, files in os.walk(base):
        for entry in dirs + files + ["."]:
            os.lchown(os.path.join(directory, entry), NOBODY, NOBODY)
    run("diff", f"{base}/older", f"{base}/newer", f"{base}/p.tkp", user=NOBODY)
    subprocess.run(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                    "cp", "-a", f"{base}/older", f"{base}/t"], check=True)
    run("apply", f"{base}/t", f"{base}/p.tkp", user=NOBODY)
    compare("as an ordinary user", f"{base}/newer", f"{base}/t")


def main():
    checks = [(name, lambda base, b=build, n=name: check_case(base, n, b)) for name, build in CASES]
    checks += [("link to an outside file", check_outside_content_not_shipped),
               ("owner kept", check_owner_kept),
               ("ordinary user", check_as_ordinary_user)]
    for name, check in checks:
        base = tempfile.mkdtemp(prefix="ostmere-fidelity-")
        try:
            check(base)
        except AssertionError as error:
            failures.append(f"{name}: {error}")
        finally:
            subprocess.run(["rm", "-rf", base])
    for failure in failures:
        print(failure)
    print(f"{len(checks)} checks, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
