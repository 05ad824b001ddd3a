#!/usr/bin/env python3
"""Checks the virtual-table slots of the public interfaces in two C++ ABIs.

Compiles the interface headers alone with clang, once for the Microsoft ABI
(x86_64-pc-windows-msvc) and once for the Itanium ABI used by GCC and MinGW
(x86_64-w64-mingw32), dumps the vtable layouts and compares every slot of
IOrlin and IOrlinOwner with interface_slots.txt. In the Itanium ABI the
virtual destructor takes two entries (complete and deleting); they count as
the one destructor slot.

usage: check_vtables.py <clang++> <include dir>
"""
import pathlib
import re
import subprocess
import sys
import tempfile

TARGETS = {"msvc": "x86_64-pc-windows-msvc", "itanium": "x86_64-w64-mingw32"}
HERE = pathlib.Path(__file__).resolve().parent


def expected():
    tables, name = {}, None
    for line in (HERE / "interface_slots.txt").read_text().splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        m = re.match(r"^(\d+)\s+(.*)$", line)
        if m:
            tables[name].append(m.group(2))
        else:
            name = line
            tables[name] = []
    return tables


def dumped(clang, include, target):
    src = "#include \"IOrlin.h\"\nvoid f(IOrlin* p) { delete p; }\nvoid g(IOrlinOwner* p) { delete p; }\n"
    with tempfile.TemporaryDirectory() as tmp:
        cpp = pathlib.Path(tmp) / "slots.cpp"
        cpp.write_text(src)
        out = subprocess.run([clang, "--target=" + target, "-ffreestanding", "-std=c++17", "-c", "-o", "/dev/null",
                              "-I", include, "-Xclang", "-fdump-vtable-layouts", str(cpp)],
                             capture_output=True, text=True, check=True).stdout
    tables, name = {}, None
    for line in out.splitlines():
        head = re.match(r"^V[F]?Table indices for '(\w+)'", line)
        if head:
            name = head.group(1)
            tables[name] = []
            continue
        entry = re.match(r"^\s+\d+ \| (.*)$", line)
        if name and entry:
            sig = re.sub(r"\s*\[[^\]]*\]$", "", entry.group(1))
            sig = sig[sig.index(name + "::") + len(name) + 2:]
            if sig.startswith("~") and tables[name] and tables[name][-1] == sig:
                continue  # Itanium's second destructor entry
            tables[name].append(sig)
        elif not line.strip():
            name = None
    return tables


def main():
    clang, include = sys.argv[1], sys.argv[2]
    want, failures = expected(), 0
    for abi, target in TARGETS.items():
        got = dumped(clang, include, target)
        for iface, slots in want.items():
            have = got.get(iface, [])
            for i in range(max(len(slots), len(have))):
                w = slots[i] if i < len(slots) else "(none)"
                h = have[i] if i < len(have) else "(none)"
                if w != h:
                    failures += 1
                    print(f"{abi} {iface} slot {i}: expected {w}, got {h}")
            print(f"{abi} {iface}: {len(have)} slots checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
