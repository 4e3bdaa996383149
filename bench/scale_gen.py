#!/usr/bin/env python3
"""Writes a tree of N small files (0..2 KiB, 1,000 to a directory) whose bytes follow from the
file's number, a newer copy of it made of hard links with 1 % of the files rewritten and 0.5 %
added, and a chain of DEPTH nested directories holding one file.

    scale_gen.py files N OLDDIR NEWDIR
    scale_gen.py chain DEPTH DIR
"""
import os
import sys


def content(i, salt=b""):
    size = (i * 7919) % 2048
    seed = (b"%d" % i) + salt
    return (seed * (size // len(seed) + 1))[:size]


def write(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.write(fd, data)
    os.close(fd)


def files(n, old, new):
    for i in range(n):
        d = os.path.join(old, "d%04d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(d, exist_ok=True)
        write(os.path.join(d, "f%07d.dat" % i), content(i))
    os.system("cp -al '%s' '%s'" % (old, new))
    for i in range(0, n, 100):
        p = os.path.join(new, "d%04d" % (i // 1000), "f%07d.dat" % i)
        os.unlink(p)
        write(p, content(i, b"changed"))
    for i in range(0, n, 200):
        write(os.path.join(new, "d%04d" % (i // 1000), "new%07d.dat" % i), content(i, b"new"))


def chain(depth, root):
    os.makedirs(root, exist_ok=True)
    fd = os.open(root, os.O_RDONLY)
    for _ in range(depth):
        os.mkdir("d", dir_fd=fd)
        nxt = os.open("d", os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = nxt
    leaf = os.open("leaf.txt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(leaf, b"leaf")
    os.close(leaf)
    os.close(fd)


if __name__ == "__main__":
    if sys.argv[1] == "files":
        files(int(sys.argv[2]), sys.argv[3], sys.argv[4])
    else:
        chain(int(sys.argv[2]), sys.argv[3])
