#!/usr/bin/env python3
"""Checks what a Windows caller receives beside the DLL.

usage:
  check_release.py msvc --clang P --lld-link P --readobj P --include DIR
                        --source C --work DIR --import-library ORRIVANE.lib
      compiles the C caller for Microsoft's toolchain, links it against the
      import library alone and checks that its import table asks ORRIVANE.DLL
      for every export of exports.txt by its undecorated name
  check_release.py zip --cpack P --build DIR --work DIR
      makes the Windows package from the build tree and checks that it holds
      exactly the files of package-zip.txt
  check_release.py deb --cpack P --build DIR --work DIR
      makes the tool's Debian package from the build tree and checks its
      files and declared dependencies against package-deb.txt

Prints each mismatch and exits 1 when there is one, 0 otherwise.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dll"))
from check_dll import expected_exports, read_list, run  # noqa: E402


def check_msvc(args, problems):
    os.makedirs(args.work, exist_ok=True)
    obj = os.path.join(args.work, "msvc_caller.obj")
    exe = os.path.join(args.work, "msvc_caller.exe")
    run(args.clang, "-target", "i686-pc-windows-msvc", "-ffreestanding", "-Wall", "-Werror", "-I", args.include,
        "-c", args.source, "-o", obj)
    run(args.lld_link, "/nologo", "/entry:Start", "/subsystem:console", "/nodefaultlib", f"/out:{exe}", obj,
        args.import_library)
    imports = {}
    current = None
    for line in run(args.readobj, "--coff-imports", exe).splitlines():
        m = re.match(r"\s*Name:\s*(\S+)", line)
        if m:
            current = imports.setdefault(m.group(1), [])
        m = re.match(r"\s*Symbol:\s*(\S+)", line)
        if m and current is not None:
            current.append(m.group(1))
    if list(imports) != ["ORRIVANE.DLL"]:
        problems.append(f"the caller imports from {sorted(imports)}, expected ORRIVANE.DLL alone")
    names = set(imports.get("ORRIVANE.DLL", []))
    _, want = expected_exports(args.exports)
    for name in sorted(names - set(want.values())):
        problems.append(f"the caller asks for {name}, which ORRIVANE.DLL does not export")
    for name in sorted(set(want.values()) - names):
        problems.append(f"the caller does not ask for {name}")


def make_package(args, suffix, expected, problems):
    """Runs cpack on the build tree; returns (path, {key: [values]}) or None."""
    shutil.rmtree(args.work, ignore_errors=True)
    run(args.cpack, "--config", os.path.join(args.build, "CPackConfig.cmake"), "-B", args.work)
    want = {}
    for line in read_list(os.path.join(args.expected, expected)):
        key, value = line.split(None, 1)
        want.setdefault(key, []).append(value)
    made = [os.path.basename(p) for p in glob.glob(os.path.join(args.work, "*" + suffix))]
    if made != want["package"]:
        problems.append(f"packages made: {made}, expected {want['package']}")
        return None
    return os.path.join(args.work, made[0]), want


def compare_files(files, want, problems, exact):
    for name in sorted(set(want) - set(files)):
        problems.append(f"the package lacks {name}")
    if exact:
        for name in sorted(set(files) - set(want)):
            problems.append(f"the package holds {name}, which is not expected")


def check_zip(args, problems):
    made = make_package(args, ".zip", "package-zip.txt", problems)
    if not made:
        return
    path, want = made
    with zipfile.ZipFile(path) as z:
        files = [n for n in z.namelist() if not n.endswith("/")]
    compare_files(files, want.get("file", []), problems, exact=True)


def check_deb(args, problems):
    made = make_package(args, ".deb", "package-deb.txt", problems)
    if not made:
        return
    path, want = made
    files = [line.split()[-1] for line in run("dpkg-deb", "-c", path).splitlines() if not line.endswith("/")]
    compare_files(files, want.get("file", []), problems, exact=False)
    depends = run("dpkg-deb", "-f", path, "Depends")
    named = {re.split(r"[\s(]", d.strip())[0] for d in depends.split(",") if d.strip()}
    for package in want.get("depends", []):
        if package not in named:
            problems.append(f"Depends names {sorted(named)}, without {package}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--expected", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--exports", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dll"))
    parser.add_argument("--clang")
    parser.add_argument("--lld-link")
    parser.add_argument("--readobj")
    parser.add_argument("--include")
    parser.add_argument("--source")
    parser.add_argument("--cpack")
    parser.add_argument("--build")
    parser.add_argument("--work", required=True)
    parser.add_argument("check", choices=["msvc", "zip", "deb"])
    parser.add_argument("--import-library")
    args = parser.parse_args()

    problems = []
    {"msvc": check_msvc, "zip": check_zip, "deb": check_deb}[args.check](args, problems)
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{args.check}: as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
