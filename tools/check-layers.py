#!/usr/bin/env python3
"""Checks that every program file includes only headers of its own layer or
a lower one.

    tools/check-layers.py [ROOT]

The layers, from the ground up: common/, server/, then filter/, config/ and
archive/, then managers/, then app/ and cli/. Prints each include that runs
upwards ("file:line: folder -> header") and exits 1 when there is any.
"""
import os
import re
import sys

RANK = {
    "common": 0,
    "server": 1,
    "filter": 2,
    "config": 2,
    "archive": 2,
    "managers": 3,
    "app": 4,
    "cli": 4,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def upward_includes(root):
    for folder, rank in RANK.items():
        for path, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp", ".h.in")):
                    continue
                file = os.path.join(path, name)
                with open(file, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if match and RANK.get(match.group(1), -1) > rank:
                            header = line.split('"')[1]
                            yield f"{os.path.relpath(file, root)}:{number}: {folder} -> {header}"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = list(upward_includes(root))
    for arrow in found:
        print(arrow)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
