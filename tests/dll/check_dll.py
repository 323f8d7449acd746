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
  registers
           what the code of the exports in registers.txt leaves in the whole
           of EAX at every return it can reach, read from the disassembly

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


def export_addresses(dump):
    """{name: address} of every export, from objdump -p."""
    base = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", dump, re.M)
    ordinal_base = re.search(r"^Export Address Table -- Ordinal Base\s+(\d+)", dump, re.M)
    _, names, _ = parse_exports(dump)
    if not (base and ordinal_base):
        return {}
    image_base, first = int(base.group(1), 16), int(ordinal_base.group(1))
    rvas = {}
    for line in section(dump, "Export Address Table -- Ordinal Base", r"^\S|^\s*$") or []:
        m = re.match(r"\s*\[\s*(\d+)\]\s+(?:\+base\[\s*(\d+)\]\s+)?([0-9a-fA-F]+)\s+Export RVA", line)
        if m:
            rvas[int(m.group(2)) if m.group(2) else int(m.group(1)) + first] = int(m.group(3), 16)
    return {name: image_base + rvas[ordinal] for ordinal, name in names.items() if ordinal in rvas}


def parse_code(disassembly):
    """{address: (mnemonic, [operands], next address)} from objdump -d."""
    lines = []
    for line in disassembly.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\t(.*)$", line)
        if not m:
            continue
        words = m.group(2).split(None, 1)
        while len(words) == 2 and words[0] in ("repz", "rep", "repnz", "lock", "data16", "notrack", "bnd", "cs", "ds"):
            words = words[1].split(None, 1)
        mnemonic = words[0] if words else "(bad)"
        operands, depth, current = [], 0, ""
        for ch in (words[1].split("<", 1)[0].strip() if len(words) == 2 else ""):
            depth += (ch == "(") - (ch == ")")
            if ch == "," and depth == 0:
                operands.append(current)
                current = ""
            else:
                current += ch
        if current:
            operands.append(current)
        lines.append((int(m.group(1), 16), mnemonic, operands))
    return {at: (mnemonic, operands, lines[i + 1][0] if i + 1 < len(lines) else None)
            for i, (at, mnemonic, operands) in enumerate(lines)}


# EAX as two parts, bits 8 to 31 (hi) and bits 0 to 7 (lo): "zero", "bool"
# (lo only: 0 or 1), "set" (some value the code put there) or "undef".
UNDEF = ("undef", "undef")
SET = ("set", "set")
EAX_NAMES = ("%eax", "%ax", "%al", "%ah")
# Instructions that write EAX without naming it as their last operand.
IMPLICIT_EAX = ("cwtl", "cbtw", "cltd", "cpuid", "rdtsc", "mul", "div", "idiv", "lods", "lodsb", "lodsl", "in",
                "cmpxchg", "scas")


def join(a, b):
    def one(x, y):
        if x == y:
            return x
        if "undef" in (x, y):
            return "undef"
        return "bool" if {x, y} == {"zero", "bool"} else "set"
    return one(a[0], b[0]), one(a[1], b[1])


def immediate(operand):
    return int(operand[1:], 0) if operand.startswith("$") else None


def step_eax(mnemonic, operands, eax):
    """EAX after one instruction."""
    if mnemonic == "call" or mnemonic == "lcall":
        return UNDEF
    writes = operands[-1] if operands and operands[-1] in EAX_NAMES else None
    if mnemonic.startswith(("cmp", "test", "push")) or mnemonic in ("bt", "btl", "btw"):
        writes = None
    if mnemonic == "xchg" and "%eax" in operands:
        return SET if eax != UNDEF and all(p != "undef" for p in eax) else UNDEF
    if writes is None:
        return UNDEF if mnemonic in IMPLICIT_EAX else eax
    defined = "undef" not in eax
    source = operands[0] if len(operands) > 1 else None
    value = immediate(source) if source else None
    if writes == "%eax":
        if mnemonic in ("xor", "sub") and source == "%eax":
            return "zero", "zero"
        if mnemonic in ("mov", "movl") and value is not None:
            return ("zero" if value < 0x100 else "set"), ("zero" if value == 0 else "bool" if value == 1 else "set")
        if mnemonic in ("movzbl", "movzbw"):
            return "zero", (eax[1] if source == "%al" else "set")
        if mnemonic in ("mov", "movl", "movzwl", "movsbl", "movswl", "lea", "pop", "popl") or mnemonic.startswith("set"):
            return SET
        if mnemonic.startswith("cmov"):
            return join(eax, SET)
        if mnemonic in ("and", "andl") and value is not None and value < 0x100:
            return "zero", (eax[1] if value != 1 else "bool" if eax[1] != "undef" else "undef")
        return SET if defined else UNDEF
    if writes == "%al":
        if mnemonic.startswith("set"):
            return eax[0], "bool"
        if mnemonic in ("mov", "movb"):
            return eax[0], "set"
        return eax[0], ("set" if eax[1] != "undef" else "undef")
    if writes == "%ax":
        return ("set" if eax[0] != "undef" else "undef"), ("set" if mnemonic in ("mov", "movw") or defined else "undef")
    return ("set" if eax[0] != "undef" else "undef"), eax[1]  # %ah


# Instructions that leave the flags as they were.
KEEP_FLAGS = ("mov", "movl", "movb", "movw", "movzbl", "movzwl", "movsbl", "movswl", "lea", "push", "pushl", "pop",
              "popl", "nop", "xchg")


def tests_eax_for_zero(mnemonic, operands):
    return (mnemonic in ("test", "testl", "or", "orl") and operands == ["%eax", "%eax"]) or \
        (mnemonic in ("cmp", "cmpl") and operands == ["$0x0", "%eax"])


def returns_of(code, entry):
    """[(address of a ret, EAX there)] for every path from entry; problems.
    A path also knows whether the flags still tell whether EAX is 0 (after
    test %eax,%eax and the like), so the branch taken on zero has EAX 0."""
    seen, todo, returns, problems = set(), [(entry, UNDEF, False)], [], []
    while todo:
        at, eax, tested = todo.pop()
        if (at, eax, tested) in seen:
            continue
        seen.add((at, eax, tested))
        if at not in code:
            problems.append(f"code at {at:#x} is not in the disassembly")
            continue
        mnemonic, operands, following = code[at]
        if mnemonic.startswith("ret"):
            returns.append((at, eax))
            continue
        if mnemonic.startswith("j"):
            target = operands[0] if operands else ""
            if not re.fullmatch(r"[0-9a-f]+", target):
                problems.append(f"{mnemonic} {target} at {at:#x} cannot be followed")
                continue
            zero_taken = tested and mnemonic in ("je", "jz")
            zero_following = tested and mnemonic in ("jne", "jnz")
            todo.append((int(target, 16), ("zero", "zero") if zero_taken else eax, tested))
            if mnemonic == "jmp":
                continue
            if zero_following:
                eax = ("zero", "zero")
        elif mnemonic in ("ud2", "(bad)", "hlt"):
            continue
        else:
            after = step_eax(mnemonic, operands, eax)
            if tests_eax_for_zero(mnemonic, operands):
                tested = True
            elif after != eax or mnemonic not in KEEP_FLAGS and not mnemonic.startswith(("set", "cmov")):
                tested = False
            eax = after
        if following is None:
            problems.append(f"code runs off the end after {at:#x}")
        else:
            todo.append((following, eax, tested))
    return sorted(set(returns)), problems


RESULT_KINDS = {
    # what a result must be in all 32 bits of EAX at every return
    "bool": lambda eax: eax[0] == "zero" and eax[1] in ("zero", "bool"),
    "byte": lambda eax: eax[0] == "zero" and eax[1] != "undef",
}


def describe(eax):
    upper = {"zero": "bits 8-31 zero", "set": "bits 8-31 loaded by the code", "undef": "bits 8-31 undefined"}[eax[0]]
    lower = {"zero": "low byte 0", "bool": "low byte 0 or 1", "set": "low byte a value",
             "undef": "low byte undefined"}[eax[1]]
    return f"{upper}, {lower}"


def check_registers(args, problems):
    addresses = export_addresses(run(args.objdump, "-p", args.dll))
    code = parse_code(run(args.objdump, "-d", "--no-show-raw-insn", args.dll))
    for line in read_list(os.path.join(args.expected, "registers.txt")):
        name, kind = line.split()
        if name not in addresses:
            problems.append(f"{name} is not exported")
            continue
        returns, trouble = returns_of(code, addresses[name])
        problems.extend(f"{name}: {t}" for t in trouble)
        if not returns:
            problems.append(f"{name}: no return reached")
        for at, eax in returns:
            if not RESULT_KINDS[kind](eax):
                problems.append(f"{name}: returns at {at:#x} with EAX {describe(eax)}, expected {kind}")
        kinds = sorted({describe(eax) for _, eax in returns})
        print(f"{name}: {len(returns)} return(s): {'; '.join(kinds)}")


CHECKS = {
    "machine": check_machine,
    "exports": check_exports,
    "imports": check_imports,
    "version": check_version,
    "caller": check_caller,
    "registers": check_registers,
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
