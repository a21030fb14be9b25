#!/usr/bin/env python3
"""Fails when an i686 exe does x87 arithmetic in the given code.

    x87_scan.py EXE OBJECT...

Every function defined in the objects is looked up in the exe's
disassembly. It may use the x87 unit only to move a double (the 32-bit
calling convention returns a library call's double in st(0)) or to change
its sign bit, both exact, to load the constants 0 and 1, or to load a
whole number (fild: the 64-bit x87 significand holds any 64-bit integer,
and the store to a double that follows rounds once, as SSE2's conversion
would; the 32-bit target has no SSE2 conversion from a 64-bit integer); any
other x87 instruction (one that rounds, an
80-bit load or store, a conversion or comparison on the x87 stack) fails.
"""

import re
import subprocess
import sys

ALLOWED = {"fldl", "fstpl", "fstl", "fld", "fstp", "fst", "fabs", "fchs", "fxch",
           "fldz", "fld1", "fild", "fildl", "fildll", "fildq"}


def defined_functions(obj):
    listing = subprocess.run(["i686-w64-mingw32-nm", "--defined-only", obj],
                             capture_output=True, text=True, check=True).stdout
    return {f[2] for f in (line.split() for line in listing.splitlines())
            if len(f) == 3 and f[1] in "tT" and not f[2].startswith(".")}


def main():
    exe, objects = sys.argv[1], sys.argv[2:]
    functions = set()
    for obj in objects:
        functions |= defined_functions(obj)
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", exe],
                          capture_output=True, text=True, check=True).stdout
    current, seen, bad, moves = None, set(), [], 0
    for line in dump.splitlines():
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            current = header.group(1) if header.group(1) in functions else None
            if current:
                seen.add(current)
            continue
        fields = line.split("\t")
        if current and len(fields) >= 2 and fields[1].startswith("f"):
            if fields[1].split()[0] in ALLOWED:
                moves += 1
            else:
                bad.append("%s: %s" % (current, fields[1].strip()))
    missing = functions - seen
    print("%d functions checked, %d exact x87 moves or sign changes" % (len(seen), moves))
    for b in bad:
        print("  x87 arithmetic in " + b)
    if missing:
        print("  not found in the exe: " + " ".join(sorted(missing)))
    return 1 if bad or missing or not seen else 0


if __name__ == "__main__":
    sys.exit(main())
