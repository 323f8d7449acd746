#!/usr/bin/env python3
"""Prints the non-blank lines of tests/ against the code (src/, include/,
testbed/, tools/) and their ratio; fuzz/ and bench/ count on neither side.
Source files only: C, C++, Python and CMake lists (test data, expected
lists and documents are not code). With --max R, exits 1 when the ratio
is above R.

usage: scripts/test_ratio.py [--max R] [--files]
"""
import argparse
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CODE = ("src", "include", "testbed", "tools")
TESTS = ("tests",)


def is_source(name):
    return name == "CMakeLists.txt" or name.endswith((".c", ".cpp", ".h", ".py", ".cmake"))


def count(top):
    """{relative path: non-blank lines} of the source files under top."""
    lines = {}
    for directory, _, files in os.walk(os.path.join(ROOT, top)):
        for name in files:
            if is_source(name):
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    lines[os.path.relpath(path, ROOT)] = sum(1 for line in f if line.strip())
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=float, help="fail when tests/code is above this")
    parser.add_argument("--files", action="store_true", help="list every test file's count")
    args = parser.parse_args()

    code = {top: sum(count(top).values()) for top in CODE}
    tests = count("tests")
    if args.files:
        for path, n in sorted(tests.items(), key=lambda item: item[1]):
            print(f"{n:6}  {path}")
    for top, n in code.items():
        print(f"{n:6}  {top}/")
    total_code, total_tests = sum(code.values()), sum(tests.values())
    ratio = total_tests / total_code
    print(f"{total_code:6}  code")
    print(f"{total_tests:6}  tests/")
    print(f"{ratio:6.3f}  tests/ : code")
    if args.max is not None and ratio > args.max:
        print(f"tests/ is {ratio:.3f} of the code, above {args.max}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
