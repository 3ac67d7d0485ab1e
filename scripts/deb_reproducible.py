#!/usr/bin/env python3
"""Shows that the Linux package is reproducible: builds it a second time, from a copy of the
sources in another folder, and compares it byte for byte with the one scripts/package-linux.sh
left in build/package/ (the package and its -dbgsym package).

    python3 scripts/deb_reproducible.py [--second DIR]

The copy holds the files git tracks, as they are in the work tree; both builds take their dates
from the last commit (SOURCE_DATE_EPOCH). Only the programs and the package's files are built in
the copy, not the tests. With --second DIR the copy is kept in DIR, and a later run with the same
DIR rebuilds only what changed (the copy keeps the files' dates). Exits 1 when the packages differ,
naming the members and files that do.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
TARGETS = ["veltabox-updater", "veltabox-updater-demo", "veltabox-cli", "veltabox-cli-demo",
           "veltabox_package_files"]


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def packages(folder):
    return sorted(name for name in os.listdir(folder) if name.endswith(".deb"))


def copy_sources(destination):
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                             capture_output=True).stdout
    present = b"\0".join(path for path in tracked.split(b"\0")
                         if path and os.path.lexists(os.path.join(ROOT.encode(), path)))
    os.makedirs(destination, exist_ok=True)
    # tar keeps each file's date, so that a kept copy is rebuilt only where a file changed.
    pack = subprocess.Popen(["tar", "--null", "-T", "-", "-cf", "-"], cwd=ROOT,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    unpack = subprocess.Popen(["tar", "-xf", "-"], cwd=destination, stdin=pack.stdout)
    pack.stdout.close()
    pack.stdin.write(present)
    pack.stdin.close()
    if pack.wait() or unpack.wait():
        sys.exit("deb_reproducible: copying the sources failed")


def explain(first, second):
    """What differs between two .debs: their members, then the files of their contents."""
    with tempfile.TemporaryDirectory() as scratch:
        trees = []
        for index, deb in enumerate((first, second)):
            tree = os.path.join(scratch, str(index))
            subprocess.run(["dpkg-deb", "-R", deb, tree], check=True)
            listing = subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True,
                                     text=True).stdout.splitlines()
            trees.append((tree, listing))
        for line_a, line_b in zip(trees[0][1], trees[1][1]):
            if line_a != line_b:
                print(f"   listing: {line_a}\n        vs: {line_b}")
        for folder, _, names in os.walk(trees[0][0]):
            for name in names:
                path_a = os.path.join(folder, name)
                path_b = os.path.join(trees[1][0], os.path.relpath(path_a, trees[0][0]))
                if os.path.islink(path_a):
                    continue
                if not os.path.exists(path_b) or sha256(path_a) != sha256(path_b):
                    print(f"   differs: {os.path.relpath(path_a, trees[0][0])}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--second", help="the folder of the second build, kept for a later run")
    options = parser.parse_args()

    first_dir = os.path.join(ROOT, "build/package")
    first = packages(first_dir) if os.path.isdir(first_dir) else []
    if not first:
        sys.exit("deb_reproducible: no package in build/package; run scripts/package-linux.sh first")

    epoch = os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "log", "-1", "--format=%ct"], cwd=ROOT, check=True, capture_output=True,
        text=True).stdout.strip()
    env = dict(os.environ, SOURCE_DATE_EPOCH=epoch)

    scratch = None
    if options.second:
        second_root = os.path.realpath(options.second)
    else:
        scratch = tempfile.TemporaryDirectory(prefix="veltabox-second-")
        second_root = scratch.name
    source = os.path.join(second_root, "src")
    output = os.path.join(second_root, "package")
    print(f"== the package again, from a copy in {source}")
    copy_sources(source)
    jobs = str(os.cpu_count() or 1)
    log = os.path.join(second_root, "build.log")
    with open(log, "w") as out:
        steps = [["cmake", "--preset", "linux"],
                 ["cmake", "--build", "--preset", "linux", "-j" + jobs, "--target", *TARGETS]]
        for step in steps:
            if subprocess.run(step, cwd=source, env=env, stdout=out, stderr=subprocess.STDOUT).returncode:
                print(open(log).read()[-4000:])
                sys.exit("deb_reproducible: the second build failed")
        subprocess.run(["rm", "-rf", output], check=True)
        if subprocess.run(["cpack", "-G", "DEB", "-B", output], cwd=os.path.join(source, "build/linux"),
                          env=env, stdout=out, stderr=subprocess.STDOUT).returncode:
            print(open(log).read()[-4000:])
            sys.exit("deb_reproducible: the second packaging failed")

    second = packages(output)
    passed = failed = 0
    if first != second:
        print(f"FAIL the builds made different packages: {first} and {second}")
        failed += 1
    for name in first:
        if name not in second:
            continue
        a, b = sha256(os.path.join(first_dir, name)), sha256(os.path.join(output, name))
        print(f"   {name}\n     {ROOT}: {a}\n     {source}: {b}")
        if a == b:
            print(f"PASS {name} is byte-identical in two builds in two folders")
            passed += 1
        else:
            print(f"FAIL {name} differs between the two builds")
            explain(os.path.join(first_dir, name), os.path.join(output, name))
            failed += 1
    print(f"deb_reproducible: {passed} passed, {failed} failed")
    if scratch:
        scratch.cleanup()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
