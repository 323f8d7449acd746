#!/usr/bin/env python3
"""Checks that includes point down the layers (docs/architecture.md) and that
src/sources.cmake names every library source once.

  scripts/check_layers.py [ROOT]   the tree at ROOT (default: this checkout)
  scripts/check_layers.py --self-test   also shows that a wrong tree fails

Prints one line per fault and exits 1 when there is any.
"""
import os
import re
import sys
import tempfile

# What each directory of src/ may include besides itself and the public
# header: only layers below it. interface/ is the top: nothing includes it.
LIBRARY_LAYERS = {
    "common": set(),
    "state": {"common"},
    "hwaccess": {"common", "state"},
    "firmware": {"common"},
    "detect": {"common", "state", "hwaccess", "firmware"},
    "image": {"common", "state", "hwaccess", "firmware"},
    "interface": {"common", "state", "hwaccess", "firmware", "detect", "image"},
}
PUBLIC_HEADER = "orrivane.h"
GENERATED = {"orrivane_version.h": {"src/interface/version.rc"}}

# The library headers the testbed may read: the public header, the outside
# components' contract, the hooks the platform implements and the byte view
# (the orrivane_headers target). The testbed never links the library.
TESTBED_LIBRARY_HEADERS = {
    PUBLIC_HEADER,
    "hwaccess/contract.h",
    "hwaccess/service.h",
    "hwaccess/platform_io.h",
    "common/byte_view.h",
}
# The one fixture that touches the library's state; header only, its users
# link the library.
STATE_RESET = ("testbed/fixtures/library_reset.h", "state/module_state.h")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = (".cpp", ".h", ".rc")


def files_under(root, top):
    for directory, _, names in os.walk(os.path.join(root, top)):
        for name in sorted(names):
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.join(directory, name)
                yield os.path.relpath(path, root).replace(os.sep, "/")


def includes(root, path):
    with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
        return INCLUDE.findall(f.read())


def names_in(directory):
    return {n[:-2] for n in os.listdir(directory) if n.endswith(".h")} if os.path.isdir(directory) else set()


def check_library(root, faults):
    for path in files_under(root, "src"):
        layer = path.split("/")[1]
        if layer not in LIBRARY_LAYERS:
            faults.append(f"{path}: src/{layer}/ is not a layer of the library")
            continue
        for header in includes(root, path):
            if header == PUBLIC_HEADER:
                continue
            if header in GENERATED:
                if path not in GENERATED[header]:
                    faults.append(f"{path}: includes the generated {header}")
                continue
            target = header.split("/")[0] if "/" in header else None
            if target not in LIBRARY_LAYERS:
                faults.append(f'{path}: includes "{header}", which is not a library header')
            elif target != layer and target not in LIBRARY_LAYERS[layer]:
                faults.append(f'{path}: includes "{header}": {layer}/ may not include {target}/')


def check_testbed(root, faults):
    platform = names_in(os.path.join(root, "testbed", "platform"))
    fixtures = names_in(os.path.join(root, "testbed", "fixtures"))
    for path in list(files_under(root, "testbed")) + list(files_under(root, "tools")):
        for header in includes(root, path):
            base = header[:-2] if header.endswith(".h") else header
            if "/" in header:
                allowed = header in TESTBED_LIBRARY_HEADERS or (path, header) == STATE_RESET
                if header.split("/")[0] in LIBRARY_LAYERS and not allowed:
                    faults.append(f'{path}: includes the library\'s "{header}" (only the header-only set may be)')
            elif path.startswith(("testbed/platform/", "tools/")) and not path.startswith("tools/mkimage/"):
                if base in fixtures and base not in platform:
                    faults.append(f'{path}: includes the fixture "{header}"; the platform and the tool build without')


def cmake_list(text, name):
    match = re.search(r"set\(\s*" + name + r"\s+([^)]*)\)", text)
    return match.group(1).split() if match else []


def check_sources(root, faults):
    with open(os.path.join(root, "src", "sources.cmake"), encoding="utf-8") as f:
        text = f.read()
    library = cmake_list(text, "ORRIVANE_LIBRARY_SOURCES")
    dll = cmake_list(text, "ORRIVANE_DLL_SOURCES")
    if not library:
        faults.append("src/sources.cmake: no ORRIVANE_LIBRARY_SOURCES")
    listed = library + dll
    for name in sorted(set(listed)):
        if listed.count(name) > 1:
            faults.append(f"src/sources.cmake: {name} is listed twice")
        if not os.path.isfile(os.path.join(root, "src", name)):
            faults.append(f"src/sources.cmake: {name} does not exist under src/")
    for path in files_under(root, "src"):
        name = path[len("src/"):]
        if name.endswith((".cpp", ".rc")) and name not in listed:
            faults.append(f"{path}: in neither list of src/sources.cmake")
    for name in library:
        if name.endswith("_win32.cpp") or name.startswith("interface/dllmain"):
            faults.append(f"src/sources.cmake: {name} is for the DLL alone")


def check(root):
    faults = []
    check_library(root, faults)
    check_testbed(root, faults)
    check_sources(root, faults)
    return faults


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


def self_test():
    """A small sound tree passes; each kind of fault makes it fail."""
    sound = {
        "src/sources.cmake": "set(ORRIVANE_LIBRARY_SOURCES common/a.cpp image/b.cpp)\nset(ORRIVANE_DLL_SOURCES)\n",
        "src/common/a.h": "",
        "src/common/a.cpp": '#include "common/a.h"\n',
        "src/image/b.cpp": '#include "common/a.h"\n#include "orrivane.h"\n',
        "testbed/platform/p.cpp": '#include "hwaccess/contract.h"\n',
    }
    wrong = {
        "upward": ("src/common/a.cpp", '#include "image/b.h"\n'),
        "sideways": ("src/image/b.cpp", '#include "detect/c.h"\n'),
        "top": ("src/image/b.cpp", '#include "interface/e.h"\n'),
        "testbed": ("src/image/b.cpp", '#include "testbed.h"\n'),
        "unlisted": ("src/image/c.cpp", "\n"),
        "platform reads the library": ("testbed/platform/p.cpp", '#include "image/b.h"\n'),
    }
    failures = []
    with tempfile.TemporaryDirectory() as root:
        for path, text in sound.items():
            write(root, path, text)
        if check(root):
            failures.append(f"a sound tree fails: {check(root)}")
        for what, (path, text) in wrong.items():
            original = None
            full = os.path.join(root, path)
            if os.path.exists(full):
                with open(full, encoding="utf-8") as f:
                    original = f.read()
            write(root, path, text)
            if not check(root):
                failures.append(f"a tree with a fault ({what}) passes")
            if original is None:
                os.remove(full)
            else:
                write(root, path, original)
    return failures


def main(argv):
    args = [a for a in argv[1:] if a != "--self-test"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    faults = self_test() if "--self-test" in argv else []
    faults += check(root)
    for fault in faults:
        print(fault)
    if not faults:
        print("layers: every include points down; every library source is listed once")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
