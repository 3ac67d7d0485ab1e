#!/usr/bin/env python3
"""Takes the debug information out of the programs CPack has staged, as Debian's dh_strip does.

    split_debug.py STAGING OUTDIR PACKAGE VERSION MAINTAINER

Each ELF file under STAGING/usr/bin keeps its build id and loses its debug sections, its symbol
table and .comment (the compiler's version string, which lintian flags). What was taken out goes
to /usr/lib/debug/.build-id/xx/yyyy.debug of PACKAGE-dbgsym_VERSION_ARCH.deb in OUTDIR, where gdb
finds it by the build id of the program it reads or of the program a core file names. Without the
debug information a crash report from a user says nothing but addresses.

The .deb is made with dpkg-deb, which takes its dates from SOURCE_DATE_EPOCH, orders the members
and names root as owner, so that the same programs give the same bytes.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile


def build_id(path):
    notes = subprocess.run(["readelf", "-n", path], check=True, capture_output=True, text=True,
                           env=dict(os.environ, LC_ALL="C")).stdout
    found = re.search(r"Build ID: ([0-9a-f]{2})([0-9a-f]+)", notes)
    if not found:
        sys.exit(f"split_debug: {path} has no GNU build id, so no debugger could find its symbols")
    return found.group(1), found.group(2)


def is_elf(path):
    with open(path, "rb") as file:
        return file.read(4) == b"\x7fELF"


def installed_size(root):
    # As dpkg-gencontrol counts it: each file in KiB rounded up, each directory one.
    total = 0
    for folder, folders, files in os.walk(root):
        total += len(folders)
        total += sum(-(-os.lstat(os.path.join(folder, name)).st_size // 1024) for name in files)
    return total


def main():
    staging, outdir, package, version, maintainer = sys.argv[1:6]
    arch = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                          text=True).stdout.strip()
    programs = sorted(os.path.join(staging, "usr/bin", name)
                      for name in os.listdir(os.path.join(staging, "usr/bin")))
    programs = [path for path in programs if os.path.isfile(path) and is_elf(path)]
    if not programs:
        sys.exit(f"split_debug: no program in {staging}/usr/bin")

    with tempfile.TemporaryDirectory() as scratch:
        root = os.path.join(scratch, "root")
        ids = []
        for program in programs:
            head, tail = build_id(program)
            ids.append(head + tail)
            debug = os.path.join(root, "usr/lib/debug/.build-id", head, tail + ".debug")
            os.makedirs(os.path.dirname(debug), exist_ok=True)
            # Compressed, as Debian's are; gdb reads them as they are.
            subprocess.run(["objcopy", "--only-keep-debug", "--compress-debug-sections=zlib",
                            program, debug], check=True)
            os.chmod(debug, 0o644)
            subprocess.run(["strip", "--remove-section=.comment", "--remove-section=.note", program],
                           check=True)
        docs = os.path.join(root, "usr/share/doc")
        os.makedirs(docs)
        # The dbgsym packages Debian makes point at the main package's documentation.
        os.symlink(package, os.path.join(docs, package + "-dbgsym"))

        control = os.path.join(root, "DEBIAN")
        os.makedirs(control)
        sums = []
        for folder, _, files in sorted(os.walk(root)):
            for name in sorted(files):
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, root)
                if relative.startswith("DEBIAN/") or os.path.islink(path):
                    continue
                with open(path, "rb") as file:
                    sums.append(f"{hashlib.md5(file.read()).hexdigest()}  {relative}\n")
        with open(os.path.join(control, "md5sums"), "w") as file:
            file.writelines(sorted(sums, key=lambda line: line[34:]))
        with open(os.path.join(control, "control"), "w") as file:
            file.write(f"Package: {package}-dbgsym\n"
                       f"Source: {package}\n"
                       f"Version: {version}\n"
                       "Auto-Built-Package: debug-symbols\n"
                       f"Architecture: {arch}\n"
                       f"Maintainer: {maintainer}\n"
                       f"Installed-Size: {installed_size(root)}\n"
                       f"Depends: {package} (= {version})\n"
                       "Section: debug\n"
                       "Priority: optional\n"
                       f"Description: debug symbols for {package}\n"
                       f"Build-Ids: {' '.join(sorted(ids))}\n")
        for folder, folders, files in os.walk(root):
            os.chmod(folder, 0o755)
            for name in files:
                if not os.path.islink(os.path.join(folder, name)):
                    os.chmod(os.path.join(folder, name), 0o644)
        os.makedirs(outdir, exist_ok=True)
        output = os.path.join(outdir, f"{package}-dbgsym_{version}_{arch}.deb")
        subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, output],
                       check=True, stdout=subprocess.DEVNULL)
        print(f"split_debug: {len(programs)} programs stripped, their debug information in {output}")


if __name__ == "__main__":
    main()
