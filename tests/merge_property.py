#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Random images cut into records and dealt out to several inputs, each in
random order: what tesslar-merge makes of them gives the image back, read by
tesslar and by srec_cat.
    merge_property.py BUILD_DIR COUNT"""
import os, random, subprocess, sys, tempfile

build, count = os.path.abspath(sys.argv[1]), int(sys.argv[2])
rng, failures = random.Random(7), 0
os.chdir(tempfile.mkdtemp(prefix="tesslar-merge-"))


def record(address, kind, data):
    fields = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":%s%02X\n" % (fields.hex().upper(), -sum(fields) & 0xFF)


for n in range(count):
    image, records = {}, []
    at = rng.choice([0, rng.randrange(1 << 20), rng.randrange(1 << 32) & ~0xFFFFF])
    for _ in range(rng.randrange(1, 6)):  # regions with gaps between them
        at += rng.choice([0, 1, rng.randrange(1, 70000)])
        for _ in range(rng.randrange(1, 40)):  # records that touch
            data = rng.randbytes(rng.randrange(1, 256))
            records.append(record(0, 4, bytes([at >> 24, at >> 16 & 0xFF])) + record(at & 0xFFFF, 0, data))
            image.update((at + i, b) for i, b in enumerate(data))
            at += len(data)
    inputs = rng.randrange(1, 6)
    files = [[] for _ in range(inputs)]
    for r in records:
        rng.choice(files).append(r)
    for i, lines in enumerate(files):
        rng.shuffle(lines)
        open(f"in{i}.hex", "w").write("".join(lines) + ":00000001FF\n")
    low, high = min(image), max(image) + 1
    expected = bytes(image.get(a, 0xFF) for a in range(low, high))
    for name in ("out.hex", "y.bin", "z.bin"):
        if os.path.exists(name):
            os.remove(name)
    merged = subprocess.run([f"{build}/tesslar-merge", "--record-bytes", str(rng.randrange(1, 256)), "-o", "out.hex"]
                            + [f"in{i}.hex" for i in range(inputs)], capture_output=True)
    back = subprocess.run([f"{build}/tesslar", "--offset", f"-{low}", "out.hex", "y.bin"], capture_output=True)
    ok = merged.returncode == back.returncode == 0 and open("y.bin", "rb").read() == expected
    subprocess.run(["srec_cat", "out.hex", "-intel", "-fill", "0xFF", str(low), str(high), "-offset", f"-{low}",
                    "-o", "z.bin", "-binary"], check=True)
    ok = ok and open("z.bin", "rb").read() == expected
    if not ok:
        failures += 1
        print(f"FAIL #{n}: {len(records)} records over {inputs} inputs, {low:#x} to {high:#x}\n"
              f"{merged.stdout.decode()}{back.stdout.decode()}")
print(f"{count - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
