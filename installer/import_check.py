#!/usr/bin/env python3
"""Fails when a shipped file imports a function that the reviewed list does
not allow: everything both files import must be in Windows 7 SP1, and a
newer function is looked up at run time instead.

Usage: import_check.py LIST FILE...
       import_check.py --print FILE...   (the imports, one per line)
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_info  # noqa: E402


def read_list(path):
    """({allowed import}, {run-time lookup: minimum Windows}) of the list."""
    allowed, run_time, section = set(), {}, None
    for raw in open(path, encoding="utf-8"):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("["):
            section = line
            continue
        name, _, minimum = line.partition(" ")
        if section == "[imported]":
            allowed.add(name.lower())
        elif section == "[looked up at run time]":
            run_time[name.lower()] = minimum.strip()
        else:
            raise ValueError(f"{path}: {raw.strip()!r} is in no known section")
    return allowed, run_time


def main(argv):
    if len(argv) >= 2 and argv[0] == "--print":
        for path in argv[1:]:
            print("\n".join(pe_info.imports(open(path, "rb").read())))
        return 0
    allowed, run_time = read_list(argv[0])
    failures = 0
    for path in argv[1:]:
        found = pe_info.imports(open(path, "rb").read())
        for name in found:
            if name.lower() in run_time:
                print(f"{path}: imports {name}, which needs {run_time[name.lower()]}: "
                      "look it up at run time")
                failures += 1
            elif name.lower() not in allowed:
                print(f"{path}: imports {name}, which is not on the reviewed list")
                failures += 1
        print(f"{path}: {len(found)} imports checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
