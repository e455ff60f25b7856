#!/usr/bin/env python3
"""Round trip over random binaries: tesslar-hex then tesslar gives the input
back (without its trailing fill run, or whole with --keep-fill), and GNU
objcopy, where present, reads tesslar-hex's files back to the same bytes."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

MODES = {"16bit": 0xFFFF, "segment": 0xFFFFF, "linear": 0xFFFFFFFF}


def random_binary(rng):
    """Random bytes with runs of 0xFF in places, sometimes at either end."""
    size = rng.choice([0, 1, 2, rng.randrange(1, 300), rng.randrange(1, 5000), rng.randrange(1, 70000)])
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.3:
            out += b"\xff" * rng.randrange(1, 200)
        else:
            out += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 100)))
    return bytes(out[:size])


def written_end(data, record_bytes, keep_fill):
    """One past the last byte that the writer puts in a data record: a fill
    run is left out only where it would begin a record, so the last record
    may carry the start of the trailing fill run."""
    i = end = 0
    while i < len(data):
        while not keep_fill and i < len(data) and data[i] == 0xFF:
            i += 1
        if i == len(data):
            break
        end = min(i + record_bytes, len(data))
        i = end
    return end


def run(command, folder):
    return subprocess.run(command, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tesslar", required=True)
    parser.add_argument("--tesslar-hex", required=True)
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--seed", type=int, default=2026)
    args = parser.parse_args()
    args.tesslar = os.path.abspath(args.tesslar)
    args.tesslar_hex = os.path.abspath(args.tesslar_hex)
    objcopy = shutil.which("objcopy")
    rng = random.Random(args.seed)
    failures = checks = 0
    folder = tempfile.mkdtemp(prefix="tesslar-round-trip-")
    try:
        for n in range(args.count):
            mode = rng.choice(list(MODES))
            data = random_binary(rng)[:MODES[mode]]
            room = MODES[mode] + 1 - len(data)
            address = rng.choice([0, rng.randrange(room), rng.randrange(room) & ~0xFFFF, max(room - 1, 0)])
            if mode != "16bit" and rng.random() < 0.3:
                address = max(0, min(room - 1, 0x10000 * rng.randrange(1, 16) - rng.randrange(0, 64)))
            record_bytes = rng.choice([1, 16, 32, rng.randrange(1, 256), 255])
            keep_fill = rng.random() < 0.25
            with open(os.path.join(folder, "in.bin"), "wb") as f:
                f.write(data)
            for name in ("x.hex", "y.bin", "z.bin"):
                if os.path.exists(os.path.join(folder, name)):
                    os.remove(os.path.join(folder, name))
            what = f"#{n}: {len(data)} bytes at {address:#x}, {mode}, {record_bytes} per record" + \
                   (", keep-fill" if keep_fill else "")

            to_hex = [args.tesslar_hex, "--address", str(address), "--record-bytes", str(record_bytes),
                      "--mode", mode] + (["--keep-fill"] if keep_fill else []) + ["in.bin", "x.hex"]
            made = run(to_hex, folder)
            checks += 1
            if made.returncode != 0:
                print(f"FAIL {what}: tesslar-hex exit {made.returncode}\n{made.stdout.decode()}")
                failures += 1
                continue

            expected = data[:written_end(data, record_bytes, keep_fill)]
            # what is lost is the trailing fill run, less than a record of it kept
            assert keep_fill or (expected.rstrip(b"\xff") == data.rstrip(b"\xff")
                                 and len(expected) - len(data.rstrip(b"\xff")) < record_bytes)
            back = run([args.tesslar, "--offset", f"-{address}", "x.hex", "y.bin"], folder)
            got = None
            if os.path.exists(os.path.join(folder, "y.bin")):
                with open(os.path.join(folder, "y.bin"), "rb") as f:
                    got = f.read()
            # every line was accepted, the end-of-file record closed the file
            # and nothing came after it
            ok = back.returncode == 0 and b"End-of-file record detected" in back.stdout \
                and b"WARNING" not in back.stdout
            ok = ok and (got == expected if expected else got is None)
            checks += 1
            if not ok:
                print(f"FAIL {what}: tesslar gave {None if got is None else len(got)} bytes, "
                      f"expected {len(expected)}\n{back.stdout.decode()}")
                failures += 1

            # objcopy's image runs from the lowest to the highest address written
            if objcopy and expected:
                run([objcopy, "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", "x.hex", "z.bin"], folder)
                with open(os.path.join(folder, "z.bin"), "rb") as f:
                    theirs = f.read()
                ours = expected if keep_fill else expected.lstrip(b"\xff")
                checks += 1
                if theirs != ours:
                    print(f"FAIL {what}: objcopy read {len(theirs)} bytes, expected {len(ours)}")
                    failures += 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    if not objcopy:
        print("objcopy not found: interoperation not checked")
    print(f"{checks - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
