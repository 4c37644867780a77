#!/usr/bin/env python3
"""Every Windows binary of the build keeps its debugging sections in NAME.debug beside it.

Wine reads a binary's whole image into memory, debugging sections included, so a binary that
carries them runs with 10 to 15 MiB more than the package's and its benchmarks measure that.

Usage: check_debug_apart.py <objdump> <bin folder>
"""
import os
import subprocess
import sys


def main():
    objdump, folder = sys.argv[1:]
    binaries = sorted(n for n in os.listdir(folder) if n.endswith((".exe", ".dll")))
    faults = []
    for name in binaries:
        path = os.path.join(folder, name)
        sections = subprocess.run([objdump, "-h", path], check=True, capture_output=True,
                                  text=True).stdout
        if ".debug_" in sections:
            faults.append(name + " carries debugging sections")
        elif ".gnu_debuglink" in sections and not os.path.exists(path + ".debug"):
            faults.append(name + " links to a missing " + name + ".debug")
    print("\n".join(faults) or f"{len(binaries)} binaries, none with debugging sections")
    return 1 if faults or not binaries else 0


if __name__ == "__main__":
    sys.exit(main())
