#!/usr/bin/env python3
"""Describes a directory tree independently of the engine, one line per entry in byte order of
its path: kind, permission bits, modification time and content (files: SHA-1; links: the
target text). Two trees are the same for a faithful copy when their descriptions are equal.

Special files (pipes, sockets, devices) are left out with --no-special: a copy does not carry them.

usage: treewalk.py [--no-times] [--no-setid] [--no-special] [--skip NAME] DIR"""
import hashlib
import os
import stat
import sys


def kind(mode):
    for test, letter in ((stat.S_ISDIR, "d"), (stat.S_ISREG, "f"), (stat.S_ISLNK, "l"),
                         (stat.S_ISFIFO, "p"), (stat.S_ISSOCK, "s"), (stat.S_ISCHR, "c"),
                         (stat.S_ISBLK, "b")):
        if test(mode):
            return letter
    return "?"


def content(path, st):
    if stat.S_ISREG(st.st_mode):
        with open(path, "rb") as f:
            return hashlib.sha1(f.read()).hexdigest()
    if stat.S_ISLNK(st.st_mode):
        return "-> " + os.fsencode(os.readlink(path)).hex()
    return ""


def describe(root, times=True, setid=True, skip=(), special=True):
    lines = []
    root = os.fsencode(root)
    for directory, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in skip]
        for name in dirs + files:
            if name in skip:
                continue
            path = os.path.join(directory, name)
            st = os.lstat(path)
            if not special and kind(st.st_mode) in "psbc":
                continue
            bits = stat.S_IMODE(st.st_mode) & (0o7777 if setid else 0o1777)
            if stat.S_ISLNK(st.st_mode):
                bits = 0  # a link's own bits mean nothing on Linux
            rel = os.path.relpath(path, root)
            mtime = f" {st.st_mtime_ns}" if times and not stat.S_ISLNK(st.st_mode) else ""
            lines.append(f"{repr(rel)[2:-1]} {kind(st.st_mode)} {bits:o}{mtime} {content(path, st)}")
    return sorted(lines)


def main(argv):
    times = "--no-times" not in argv
    setid = "--no-setid" not in argv
    special = "--no-special" not in argv
    skip = tuple(os.fsencode(argv[i + 1]) for i, a in enumerate(argv) if a == "--skip")
    root = argv[-1]
    print("\n".join(describe(root, times, setid, skip, special)))


if __name__ == "__main__":
    main(sys.argv[1:])
