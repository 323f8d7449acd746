#!/usr/bin/env python3
"""Checks the built ORRIVANE.DLL against the expected lists beside this file.

usage: check_dll.py [--objdump P] [--windres P] [--expected DIR] CHECK DLL [CALLER]

CHECK is one of:
  machine  the file is a 32-bit i386 PE DLL (machine.txt)
  exports  export directory name and exactly the ordinal/name pairs, none
           decorated (exports.txt)
  imports  the imported DLLs and how they are imported (imports.txt)
  version  the version resource (version.txt)
  caller   CALLER, linked against the import library, imports every export
           of exports.txt by name from ORRIVANE.DLL, and only names that DLL
           exports

Prints each mismatch and exits 1 when there is one, 0 otherwise.
"""

import argparse
import os
import re
import subprocess
import sys


def read_list(path):
    """Non-empty lines of an expected-list file, comments dropped."""
    lines = []
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.split("#", 1)[0].strip()
            if line:
                lines.append(line)
    return lines


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True, errors="replace")
    if done.returncode != 0:
        raise SystemExit(f"{tool} {' '.join(args)} failed:\n{done.stderr}")
    return done.stdout


def section(text, start, end_pattern):
    """The lines of text after the first line containing start, up to the first
    line matching end_pattern (exclusive)."""
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if start in line:
            body = []
            for rest in lines[i + 1:]:
                if re.search(end_pattern, rest):
                    break
                body.append(rest)
            return body
    return None


def parse_exports(dump):
    """(library name, {ordinal: name}, address-table count) from objdump -p."""
    name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", dump, re.M)
    base = re.search(r"^Ordinal Base\s+(\d+)", dump, re.M)
    count = re.search(r"Export Address Table\s+([0-9a-fA-F]+)\s*$", dump, re.M)
    if not (name and base and count):
        return None, {}, 0
    base = int(base.group(1))
    table = section(dump, "[Ordinal/Name Pointer] Table", r"^\S|^\s*$") or []
    exports = {}
    for line in table:
        # "[  19] Name" (index from the base), or "[  20] +base[  21] 0001 Name"
        # in binutils that print the biased ordinal.
        m = re.match(r"\s*\[\s*(\d+)\]\s+(?:\+base\[\s*(\d+)\]\s+[0-9a-fA-F]+\s+)?(\S+)\s*$", line)
        if not m:
            continue
        ordinal = int(m.group(2)) if m.group(2) else int(m.group(1)) + base
        if ordinal in exports:
            exports[ordinal] += " " + m.group(3)  # two names on one ordinal: reported below
        else:
            exports[ordinal] = m.group(3)
    return name.group(1), exports, int(count.group(1), 16)


def parse_imports(dump):
    """{dll name: [(thunk, hint or ordinal, member name)]} from objdump -p."""
    imports = {}
    current = None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            current = imports.setdefault(m.group(1), [])
            continue
        if current is None:
            continue
        if not line.strip() or line.startswith(("The ", "PE ", "There ")):
            current = None
            continue
        m = re.match(r"\s*([0-9a-fA-F]+)\s+(\d+)\s+(\S+)", line)
        if m:
            current.append((int(m.group(1), 16), int(m.group(2)), m.group(3)))
    return imports


def expected_exports(directory):
    library, exports = None, {}
    for line in read_list(os.path.join(directory, "exports.txt")):
        key, value = line.split(None, 1)
        if key == "library":
            library = value
        else:
            exports[int(key)] = value
    return library, exports


def check_machine(args, problems):
    header = run(args.objdump, "-f", args.dll)
    private = run(args.objdump, "-p", args.dll)
    characteristics = section(private, "Characteristics", r"^\S|^\s*$") or []
    characteristics = {c.strip() for c in characteristics}
    for line in read_list(os.path.join(args.expected, "machine.txt")):
        key, value = line.split(None, 1)
        if key == "format":
            found = re.search(r"file format (\S+)", header)
            if not found or found.group(1) != value:
                problems.append(f"file format is {found.group(1) if found else 'unknown'}, expected {value}")
        elif key == "architecture":
            found = re.search(r"architecture: ([^,\s]+)", header)
            if not found or found.group(1) != value:
                problems.append(f"architecture is {found.group(1) if found else 'unknown'}, expected {value}")
        elif key == "magic":
            found = re.search(r"^Magic\s+([0-9a-fA-F]+)", private, re.M)
            if not found or found.group(1).lower() != value.lower():
                problems.append(f"optional-header magic is {found.group(1) if found else 'unknown'}, expected {value}")
        elif key == "characteristic":
            if value not in characteristics:
                problems.append(f"characteristic '{value}' missing (has: {', '.join(sorted(characteristics))})")
        else:
            problems.append(f"machine.txt: unknown key {key}")


def check_exports(args, problems):
    library, exports, count = parse_exports(run(args.objdump, "-p", args.dll))
    want_library, want = expected_exports(args.expected)
    if library is None:
        problems.append("no export directory")
        return
    if library != want_library:
        problems.append(f"export directory name is {library}, expected {want_library}")
    if count != len(want):
        problems.append(f"export address table holds {count} entries, expected {len(want)}")
    for ordinal, name in sorted(exports.items()):
        if name.startswith("_") or "@" in name:
            problems.append(f"ordinal {ordinal}: decorated name {name}")
        if ordinal not in want:
            problems.append(f"unexpected export {ordinal} {name}")
        elif want[ordinal] != name:
            problems.append(f"ordinal {ordinal} is {name}, expected {want[ordinal]}")
    for ordinal, name in sorted(want.items()):
        if ordinal not in exports:
            problems.append(f"missing export {ordinal} {name}")


def check_imports(args, problems):
    imports = {dll.lower(): (dll, entries) for dll, entries in parse_imports(run(args.objdump, "-p", args.dll)).items()}
    rules = {}
    for line in read_list(os.path.join(args.expected, "imports.txt")):
        dll, kind, *rest = line.split()
        rules[dll.lower()] = (dll, kind, [int(n) for n in rest])
    for key, (dll, entries) in sorted(imports.items()):
        if key not in rules:
            problems.append(f"imports from {dll}, which is not allowed")
            continue
        _, kind, ordinals = rules[key]
        by_ordinal = sorted(hint for thunk, hint, member in entries if thunk & 0x80000000)
        by_name = sorted(member for thunk, hint, member in entries if not thunk & 0x80000000)
        if kind == "ordinals":
            if by_name:
                problems.append(f"{dll} imported by name: {', '.join(by_name)}")
            if by_ordinal != sorted(ordinals):
                problems.append(f"{dll} imported by ordinals {by_ordinal}, expected {sorted(ordinals)}")
        elif by_ordinal:
            problems.append(f"{dll} imported by ordinals {by_ordinal}, expected names only")
    for key, (dll, kind, _) in sorted(rules.items()):
        if kind in ("ordinals", "required") and key not in imports:
            problems.append(f"does not import from {dll}")


def check_version(args, problems):
    text = run(args.windres, "-J", "coff", "-O", "rc", "-i", args.dll)
    if "VERSIONINFO" not in text:
        problems.append("no version resource")
        return
    fixed = {}
    for m in re.finditer(r"^\s*(FILEVERSION|PRODUCTVERSION|FILETYPE|FILEOS)\s+(.+?)\s*$", text, re.M):
        fixed[m.group(1)] = m.group(2)
    strings = {}
    for m in re.finditer(r'^\s*VALUE\s+"([^"]*)",\s*"((?:[^"\\]|\\.)*)"', text, re.M):
        strings[m.group(1)] = m.group(2)
    for line in read_list(os.path.join(args.expected, "version.txt")):
        if " = " in line:
            key, value = (part.strip() for part in line.split(" = ", 1))
            found = strings.get(key)
        else:
            key, value = line.split(None, 1)
            found = fixed.get(key)
        if found != value:
            problems.append(f"{key} is {found!r}, expected {value!r}")


def check_caller(args, problems):
    if not args.caller:
        raise SystemExit("the caller check needs the caller executable")
    imports = parse_imports(run(args.objdump, "-p", args.caller))
    dll = next((name for name in imports if name.lower() == "orrivane.dll"), None)
    if dll is None:
        problems.append("the caller imports nothing from ORRIVANE.DLL")
        return
    _, want = expected_exports(args.expected)
    names = []
    for thunk, hint, member in imports[dll]:
        if thunk & 0x80000000:
            problems.append(f"the caller imports ordinal {hint} instead of a name")
        else:
            names.append(member)
    _, exported, _ = parse_exports(run(args.objdump, "-p", args.dll))
    for name in sorted(set(names) - set(exported.values())):
        problems.append(f"the caller imports {name}, which ORRIVANE.DLL does not export")
    for name in sorted(set(want.values()) - set(names)):
        problems.append(f"the caller does not import {name}")


CHECKS = {
    "machine": check_machine,
    "exports": check_exports,
    "imports": check_imports,
    "version": check_version,
    "caller": check_caller,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--windres", default="i686-w64-mingw32-windres")
    parser.add_argument("--expected", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("dll")
    parser.add_argument("caller", nargs="?")
    args = parser.parse_args()

    problems = []
    CHECKS[args.check](args, problems)
    for problem in problems:
        print(f"{os.path.basename(args.dll)}: {problem}")
    if not problems:
        print(f"{args.check}: as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
