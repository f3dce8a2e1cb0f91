#!/usr/bin/env python3
"""The one copier of the work tree as it stands (uncommitted changes
included), for the throwaway root of the other release, the second build of
the reproducibility test and the mutation check's copy.

The files are those git lists (tracked, and untracked ones it does not
ignore), so build trees and the repository itself stay out; where the
sources are no git checkout of their own, every file but build/, .git and
__pycache__.

    work_tree.py SOURCE TARGET      copies SOURCE's files into TARGET
"""

import os
import shutil
import subprocess
import sys


def files(source):
    """The work tree's files, relative to `source`."""
    try:
        top = subprocess.run(["git", "-C", source, "rev-parse", "--show-toplevel"],
                             capture_output=True, text=True, check=True).stdout.strip()
        if os.path.realpath(top) == os.path.realpath(source):
            listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached",
                                     "--others", "--exclude-standard"],
                                    capture_output=True, text=True, check=True).stdout
            return [name for name in listed.split("\0")
                    if name and os.path.isfile(os.path.join(source, name))]
    except (subprocess.CalledProcessError, OSError):
        pass
    found = []
    for folder, subfolders, names in os.walk(source):
        rel = os.path.relpath(folder, source)
        subfolders[:] = [d for d in subfolders if d != "__pycache__" and
                         not (rel == "." and d in ("build", ".git"))]
        found += [os.path.normpath(os.path.join(rel, name)) for name in names]
    return found


def copy(source, target, prune=False):
    """Copies the work tree at `source` into `target`, writing only the
    files whose contents differ (so that a build of the copy stays
    incremental); with `prune`, removes the files of `target` that the work
    tree does not hold."""
    wanted = set(files(source))
    for name in wanted:
        origin, copied = os.path.join(source, name), os.path.join(target, name)
        with open(origin, "rb") as f:
            data = f.read()
        if os.path.exists(copied):
            with open(copied, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(copied), exist_ok=True)
        with open(copied, "wb") as f:
            f.write(data)
        shutil.copystat(origin, copied)
    if prune:
        for folder, _, names in os.walk(target):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.relpath(path, target) not in wanted:
                    os.remove(path)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    copy(sys.argv[1], sys.argv[2])
