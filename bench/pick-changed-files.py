#!/usr/bin/env python3
"""Prints one file in each of N folders of TREE that hold files (N = 100 unless given), the same
ones every time for the same tree: the files a comparison changes to make N folders changed.
    bench/pick-changed-files.py TREE [N]"""
import os
import random
import sys

random.seed(11)
found, stack = [], [sys.argv[1]]
wanted = int(sys.argv[2]) if len(sys.argv) > 2 else 100
while stack:
    folder = stack.pop()
    first = None
    for e in os.scandir(folder):
        if e.is_dir(follow_symlinks=False):
            stack.append(e.path)
        elif first is None and e.is_file(follow_symlinks=False):
            first = e.path
    if first:
        found.append(first)
print("\n".join(random.sample(sorted(found), min(wanted, len(found)))))
