#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Random binaries through tesslar-hex and back through tesslar give the
input again, less the trailing fill run the writer leaves out (whole with
--keep-fill); GNU objcopy reads tesslar-hex's files to the same bytes.
    round_trip.py BUILD_DIR COUNT"""
import os, random, subprocess, sys, tempfile

build, count = os.path.abspath(sys.argv[1]), int(sys.argv[2])
rng, failures = random.Random(2026), 0
os.chdir(tempfile.mkdtemp(prefix="tesslar-round-trip-"))
for n in range(count):
    mode, top = rng.choice([("16bit", 0xFFFF), ("segment", 0xFFFFF), ("linear", 0xFFFFFFFF)])
    data = bytearray()
    for _ in range(rng.choice([0, 1, 3, 30, 300])):  # pieces, a third of them erased flash
        data += b"\xff" * rng.randrange(1, 200) if rng.random() < 0.3 else rng.randbytes(rng.randrange(1, 100))
    room = top + 1 - len(data)
    address = rng.choice([0, rng.randrange(room), room - 1, max(0, min(room - 1, rng.randrange(1, 16) << 16) - 7)])
    record_bytes, keep_fill = rng.choice([1, 16, 32, 255, rng.randrange(1, 256)]), rng.random() < 0.25
    open("in.bin", "wb").write(data)
    for name in ("x.hex", "y.bin", "z.bin"):
        if os.path.exists(name):
            os.remove(name)
    made = subprocess.run([f"{build}/tesslar-hex", "--address", str(address), "--record-bytes", str(record_bytes),
                           "--mode", mode] + ["--keep-fill"] * keep_fill + ["in.bin", "x.hex"], capture_output=True)
    # a fill run is left out only where a record would begin: the last
    # record may carry the start of the trailing run
    end = i = 0
    while i < len(data):
        while not keep_fill and i < len(data) and data[i] == 0xFF:
            i += 1
        if i < len(data):
            end = i = min(i + record_bytes, len(data))
    back = subprocess.run([f"{build}/tesslar", "--offset", f"-{address}", "x.hex", "y.bin"], capture_output=True)
    got = open("y.bin", "rb").read() if os.path.exists("y.bin") else b""
    ok = made.returncode == back.returncode == 0 and got == data[:end]
    # every line accepted, the end-of-file record last
    ok = ok and b"End-of-file record detected" in back.stdout and b"WARNING" not in back.stdout
    if ok and end:  # objcopy's image runs from the lowest address written
        subprocess.run(["objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", "x.hex", "z.bin"], check=True)
        ok = open("z.bin", "rb").read() == (data[:end] if keep_fill else data[:end].lstrip(b"\xff"))
    if not ok:
        failures += 1
        print(f"FAIL #{n}: {len(data)} bytes at {address:#x}, {mode}, {record_bytes} per record, keep-fill "
              f"{keep_fill}:\n{made.stdout.decode()}{back.stdout.decode()}")
print(f"{count - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
