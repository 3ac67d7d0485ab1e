#!/usr/bin/env python3
"""Checks the programs of the Linux package as a user receives them, and their debug package.

    package_check.py PACKAGE.deb DBGSYM.deb SOURCE_DIR [BUILD_PATH...]

For each program in the package: hardened as Debian's own (BIND_NOW, GNU_RELRO, PIE, the stack
protector's __stack_chk_fail and fortified *_chk calls imported), stripped (no debug section,
no symbol table, no .comment) with a GNU build id; its debug information in the -dbgsym package
under /usr/lib/debug/.build-id/, from which gdb names its functions and their source lines, and
without which it cannot; a core of the shipped console demo taken mid-update (gcore) read back
with it, as a user's crash would be.  No file of either package holds the source folder, a BUILD_PATH or the
host's name. Prints one PASS or FAIL line per check and ends with the tally.
"""
import os
import re
import socket
import subprocess
import sys
import tempfile

results = {"passed": 0, "failed": 0}


def check(ok, text):
    print(("PASS " if ok else "FAIL ") + text)
    results["passed" if ok else "failed"] += 1
    return ok


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def build_id(path):
    found = re.search(r"Build ID: ([0-9a-f]+)", run("readelf", "-n", path))
    return found.group(1) if found else None


def gdb(program, debug_dir, source_dir, *commands):
    # -iex: the debug folder must be known before gdb reads the program.
    command = ["gdb", "-batch", "-nx", "-iex", f"set debug-file-directory {debug_dir}",
               "-ex", f"directory {source_dir}"]
    for line in commands:
        command += ["-ex", line]
    return subprocess.run(command + [program], capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def check_program(program, name, debug_root, source_dir):
    dynamic = run("readelf", "-dW", program)
    check(re.search(r"\(FLAGS\)\s+.*BIND_NOW", dynamic) or re.search(r"\(FLAGS_1\)\s+Flags:.*\bNOW\b", dynamic),
          f"{name}: BIND_NOW")
    check(re.search(r"\(FLAGS_1\)\s+Flags:.*\bPIE\b", dynamic), f"{name}: position independent (PIE)")
    segments = run("readelf", "-lW", program)
    check(re.search(r"^\s*GNU_RELRO\s", segments, re.M), f"{name}: GNU_RELRO")
    imports = set(re.findall(r"\bUND\s+(\w+)", run("readelf", "--dyn-syms", "-W", program)))
    check("__stack_chk_fail" in imports, f"{name}: imports __stack_chk_fail")
    fortified = sorted(symbol for symbol in imports if symbol.endswith("_chk") and symbol != "__stack_chk_fail")
    check(fortified, f"{name}: imports fortified calls ({' '.join(fortified) or 'none'})")

    sections = set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", run("readelf", "-SW", program), re.M))
    unneeded = sorted(s for s in sections if s.startswith(".debug") or s in (".comment", ".symtab"))
    check(not unneeded, f"{name}: stripped ({' '.join(unneeded) or 'no debug section, symbol table or .comment'})")
    identity = build_id(program)
    if not check(identity, f"{name}: has a GNU build id"):
        return
    debug = os.path.join(debug_root, "usr/lib/debug/.build-id", identity[:2], identity[2:] + ".debug")
    if not check(os.path.isfile(debug), f"{name}: debug package holds .build-id/{identity[:2]}/{identity[2:]}.debug"):
        return
    debug_dir = os.path.join(debug_root, "usr/lib/debug")
    line = gdb(program, debug_dir, source_dir, "info line main")
    check(re.search(r'^Line \d+ of "[^"]+\.cpp" starts at address .*<main', line, re.M),
          f"{name}: gdb with the debug package finds main's line ({line.strip().splitlines()[0] if line.strip() else 'nothing'})")
    listing = gdb(program, debug_dir, source_dir, "list main")
    check(re.search(r"^\d+\s+int main\(", listing, re.M), f"{name}: gdb lists main's source")
    # Without the debug package the shipped program alone must not name main, or the checks
    # above would not show that the package is what gdb read.
    bare = gdb(program, os.path.join(debug_root, "nowhere"), source_dir, "info line main")
    check(not re.search(r"^Line \d+ of", bare, re.M), f"{name}: without the debug package gdb finds no line")


def check_core(program, debug_root, scratch):
    """A core of the stripped program in the middle of an update, read as a crash would be."""
    demo = subprocess.Popen([program, "--boxes", "1", "update"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    try:
        # Piped, the demo says when the update has begun; from then on a thread is inside it.
        for line in demo.stdout:
            if "Update begonnen" in line:
                break
        core = os.path.join(scratch, "core")
        taken = subprocess.run(["gcore", "-o", core, str(demo.pid)], capture_output=True, text=True)
    finally:
        demo.kill()
        demo.wait()
    core += f".{demo.pid}"
    if not check(taken.returncode == 0 and os.path.isfile(core), "gcore takes a core of the shipped console demo"):
        print(taken.stdout + taken.stderr)
        return
    frame = re.compile(r"^#\d+ .*\bUpdateBox\(.*\) at (\./update/engine\.cpp:\d+)$", re.M)
    for folder, wanted in ((os.path.join(debug_root, "usr/lib/debug"), True), (os.path.join(debug_root, "nowhere"), False)):
        trace = subprocess.run(["gdb", "-batch", "-nx", "-iex", f"set debug-file-directory {folder}",
                                "-ex", "thread apply all bt", program, core],
                               capture_output=True, text=True, env=dict(os.environ, LC_ALL="C")).stdout
        found = frame.search(trace)
        if wanted:
            check(found, "gdb reads the core with the debug package: "
                  + (f"UpdateBox at {found.group(1)}" if found else "no frame of UpdateBox with its line"))
        else:
            check(not found, "without the debug package the core shows no function's source line")


def files_holding(root, needles):
    """The files under root that contain any of needles, debug sections decompressed first."""
    hits = []
    with tempfile.TemporaryDirectory() as scratch:
        for folder, _, names in os.walk(root):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    continue
                with open(path, "rb") as file:
                    data = file.read()
                if data[:4] == b"\x7fELF":
                    plain = os.path.join(scratch, "plain")
                    subprocess.run(["objcopy", "--decompress-debug-sections", path, plain], check=True)
                    with open(plain, "rb") as file:
                        data = file.read()
                for needle in needles:
                    if needle.encode() in data:
                        hits.append(f"{os.path.relpath(path, root)} holds {needle}")
    return hits


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    package, dbgsym, source_dir = sys.argv[1:4]
    source_dir = os.path.realpath(source_dir)
    with tempfile.TemporaryDirectory() as scratch:
        shipped = os.path.join(scratch, "package")
        debug_root = os.path.join(scratch, "dbgsym")
        subprocess.run(["dpkg-deb", "-x", package, shipped], check=True)
        subprocess.run(["dpkg-deb", "-x", dbgsym, debug_root], check=True)
        bin_dir = os.path.join(shipped, "usr/bin")
        programs = sorted(os.listdir(bin_dir))
        check(len(programs) == 4, f"the package holds four programs ({' '.join(programs)})")
        for name in programs:
            check_program(os.path.join(bin_dir, name), name, debug_root, source_dir)
        check_core(os.path.join(bin_dir, "veltabox-cli-demo"), debug_root, scratch)

        needles = [source_dir] + [os.path.realpath(path) for path in sys.argv[4:]]
        host = socket.gethostname()
        # A short host name ("vm") turns up in any binary by chance; only a telling one is sought.
        if len(host) >= 5:
            needles.append(host)
        else:
            print(f"   the host name '{host}' is too short to be sought in the files")
        for root, what in ((shipped, "the package"), (debug_root, "the debug package")):
            hits = files_holding(root, needles)
            check(not hits, f"no file of {what} names the build's folders or host"
                  + ("" if not hits else ": " + "; ".join(hits[:5])))
    print(f"package_check: {results['passed']} passed, {results['failed']} failed")
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
