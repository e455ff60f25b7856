#!/usr/bin/env python3
"""Converts each IHEX file of a folder with tesslar and with GNU objcopy and
compares the images. objcopy's image starts at the lowest address, so tesslar
gets --offset -LOWEST; gaps are 0xFF in both."""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tesslar", required=True)
    parser.add_argument("--folder", required=True)
    args = parser.parse_args()
    objcopy = shutil.which("objcopy")
    if objcopy is None:
        print("objcopy not found (Debian package binutils)")
        return 1
    files = sorted(glob.glob(os.path.join(args.folder, "*.hex")))
    failed = 0
    work = tempfile.mkdtemp(prefix="tesslar-objcopy-")
    try:
        for path in files:
            name = os.path.basename(path)
            info = subprocess.run([args.tesslar, "-i", path], stdout=subprocess.PIPE, text=True)
            lowest = re.search(r"Region at ([0-9A-F]{8})h", info.stdout)
            ours_path, theirs_path = os.path.join(work, "ours.bin"), os.path.join(work, "theirs.bin")
            run = subprocess.run([args.tesslar, "--offset", f"-0x{lowest.group(1)}", path, ours_path],
                                 stdout=subprocess.PIPE, text=True) if lowest else None
            subprocess.run([objcopy, "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", path, theirs_path],
                           check=True)
            with open(theirs_path, "rb") as f:
                theirs = f.read()
            ours = None
            if run is not None and run.returncode == 0:
                with open(ours_path, "rb") as f:
                    ours = f.read()
            if ours is not None and ours == theirs and len(ours) > 0:
                print(f"ok    {name}: {len(ours)} bytes")
            else:
                failed += 1
                print(f"FAIL  {name}: tesslar {None if ours is None else len(ours)} bytes, "
                      f"objcopy {len(theirs)} bytes\n{info.stdout}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(files) - failed} passed, {failed} failed")
    return 1 if failed or not files else 0


if __name__ == "__main__":
    sys.exit(main())
