#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Properties on random data, COUNT cases of each (README.md says which), and
the files of data/real against objcopy.
    properties.py BUILD_DIR COUNT [WINE]"""
import atexit, hashlib, os, random, resource, shutil, signal, struct, subprocess, sys, tempfile, zlib

real = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "real")
build, count, wine = os.path.abspath(sys.argv[1]), int(sys.argv[2]), sys.argv[3:4]
os.environ["WINEDEBUG"] = "-all"
rng, failures = random.Random(2026), 0
os.chdir(tempfile.mkdtemp(prefix="tesslar-properties-"))
atexit.register(shutil.rmtree, os.getcwd(), True)
# a broken command writes no more than 256 MiB a file
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 28, 1 << 28))


def tool(name):  # under wine, when its path is given
    return wine + [os.path.join(build, name + (".exe" if wine else ""))]


def run(*command):
    return subprocess.run(command, capture_output=True)


def read(name):
    return open(name, "rb").read() if os.path.exists(name) else b""


def round_trip():
    mode, top = rng.choice([("16bit", 0xFFFF), ("segment", 0xFFFFF), ("linear", 0xFFFFFFFF)])
    data = bytearray()
    for _ in range(rng.choice([0, 1, 3, 30, 300, 2000])):  # pieces, a third of them erased flash
        data += b"\xff" * rng.randrange(1, 200) if rng.random() < 0.3 else rng.randbytes(rng.randrange(1, 100))
    data = bytearray(rng.randbytes(1 << 20)) if rng.random() < 0.05 else data  # a region of exactly 1 MiB, once in a while
    del data[top:]  # within the 64 KiB of the 16-bit mode, or beyond it
    room = top + 1 - len(data)
    address = rng.choice([0, rng.randrange(room), room - 1, max(0, min(room - 1, rng.randrange(1, 16) << 16) - 7)])
    record_bytes = rng.choice([1, 16, 32, 255, rng.randrange(1, 256)])
    open("in.bin", "wb").write(data)
    made = run(*tool("tesslar-hex"), "--address", str(address), "--record-bytes", str(record_bytes), "--mode", mode,
               "in.bin", "x.hex")
    back = run(*tool("tesslar"), "--offset", f"-{address}", "x.hex", "y.bin")
    # every byte back, every line accepted, the end-of-file record last
    ok = made.returncode == back.returncode == 0 and read("y.bin") == data \
        and b"End-of-file record detected" in back.stdout and b"WARNING" not in back.stdout
    if ok and data:
        run("objcopy", "-I", "ihex", "-O", "binary", "x.hex", "z.bin")
        ok = read("z.bin") == data
    return ok, f"{len(data)} bytes at {address:#x}, {mode}, {record_bytes} a record", made, back

def record(address, kind, data):
    fields = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":%s%02X\n" % (fields.hex().upper(), -sum(fields) & 0xFF)


def merge():
    image, records = {}, []
    at = rng.choice([0, rng.randrange(1 << 20), rng.randrange(1 << 32) & ~0xFFFFF])
    for _ in range(rng.randrange(1, 6)):  # regions with gaps between them
        at += rng.choice([0, 1, rng.randrange(1, 70000)])
        for _ in range(rng.randrange(1, 40)):  # records that touch
            data = rng.randbytes(rng.randrange(1, 256))
            records.append(record(0, 4, bytes([at >> 24, at >> 16 & 0xFF])) + record(at & 0xFFFF, 0, data))
            image.update((at + i, b) for i, b in enumerate(data))
            at += len(data)
    files = [[] for _ in range(rng.randrange(1, 6))]
    for r in records:
        rng.choice(files).append(r)
    for i, lines in enumerate(files):
        rng.shuffle(lines)
        open(f"in{i}.hex", "w").write("".join(lines) + ":00000001FF\n")
    inputs, low, high = [f"in{i}.hex" for i in range(len(files)) if files[i]], min(image), max(image) + 1
    slot, crc = [], rng.choice([None, "crc32-l-e", "crc32-b-e", "stm32-l-e"]) if high < 0xFFFFFF00 else None
    if crc:  # filled up to a CRC of the whole, srec_cat's the same from the inputs
        high += rng.randrange(0, 40) if crc[0] == "c" else (low - high) % 4 + 4 * rng.randrange(0, 10)
        # the fill ends with the CRC, which then covers the fill before it
        slot = ["--fill", f"{low}+{high + 4 - low}", "--crc", "CRC-32" if crc[0] == "c" else "STM32",
                "--crc-endian", "big" if "-b-" in crc else "little", "--crc-at", str(high)]
        run("srec_cat", "(", *[w for f in inputs for w in (f, "-intel")], ")", "-fill", "0xFF", str(low), str(high),
            f"-{crc}", str(high), "-o", "ref.hex", "-intel")
    expected = bytes(image.get(a, 0xFF) for a in range(low, high))
    merged = run(*tool("tesslar-merge"), "--record-bytes", str(rng.randrange(1, 256)), *slot, "-o", "out.hex",
                 *inputs)
    back = run(*tool("tesslar"), "--offset", f"-{low}", "out.hex", "y.bin")
    run("srec_cat", "ref.hex" if crc else "out.hex", "-intel", "-fill", "0xFF", str(low), str(high + 4 * bool(crc)),
        "-offset", f"-{low}", "-o", "z.bin", "-binary")
    ok = merged.returncode == back.returncode == 0 and read("y.bin")[:high - low] == expected \
        and read("y.bin") == read("z.bin") and len(read("y.bin")) == high - low + 4 * bool(crc)
    return ok, f"{len(records)} records over {len(files)} inputs, {low:#x} to {high:#x}, {crc}", merged, back

def overlaps():  # tesslar keeps the highest start's byte (of equal starts, the first read's); merge's last or first
    recs = [(rng.randrange(4096), rng.randbytes(rng.randrange(1, 40))) for _ in range(rng.choice([3, 100, 3000]))]
    shape = rng.choice(["random", "descending", "blocks reversed"])
    recs.sort(key=lambda r: 0 if shape == "random" else -r[0] if shape == "descending" else (-(r[0] >> 8), r[0]))
    open("x.hex", "w").write("".join(record(a, 0, d) for a, d in recs) + ":00000001FF\n")
    images = [bytearray(b"\xff" * max(a + len(d) for a, d in recs)) for _ in range(3)]
    for image, order in zip(images, (sorted(range(len(recs)), key=lambda i: (recs[i][0], -i)),
                                     range(len(recs)), reversed(range(len(recs))))):
        for a, d in (recs[i] for i in order):
            image[a:a + len(d)] = d
    done = run(*tool("tesslar"), "x.hex", "y.bin")
    ok = done.returncode == 0 and read("y.bin") == images[0]
    for policy, image in (("last", images[1]), ("first", images[2])):
        merged = run(*tool("tesslar-merge"), "--overlap", policy, "-o", "out.hex", "x.hex")
        ok = ok and run(*tool("tesslar"), "out.hex", "z.bin").returncode == 0 and read("z.bin") == image
    return ok, f"{len(recs)} records, {shape}", done, merged


def formats():  # S-records against objcopy's and read back from srec_cat's; a binary; UF2 through a decoder of ours
    image, hexes, at = {}, [], rng.choice([0, rng.randrange(1 << 16), rng.randrange(1 << 24), rng.randrange(1 << 31)])
    for _ in range(rng.randrange(1, 4)):
        data, at = rng.randbytes(rng.randrange(1, 600)), at + rng.randrange(1, 5000)
        for i in range(0, len(data), 32):
            a = at + i
            hexes += [record(0, 4, bytes([a >> 24, a >> 16 & 0xFF])), record(a & 0xFFFF, 0, data[i:i + 32])]
        image.update((at + i, b) for i, b in enumerate(data))
        at += len(data)
    open("x.hex", "w").write("".join(hexes) + ":00000001FF\n")
    low, high, n = min(image), max(image) + 1, rng.choice([1, 16, 32, rng.randrange(1, 251)])
    run("srec_cat", "x.hex", "-intel", "-o", "cat.srec", "-motorola")  # objcopy -I ihex would cut at 04 records
    for folder, command in (("ref", ["objcopy", "-I", "srec", "-O", "srec", f"--srec-len={n}", "../cat.srec"]),
                            ("our", tool("tesslar-merge") + ["--record-bytes", str(n), "-o", "x.srec", "../cat.srec"])):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(command + ["x.srec"] * (folder == "ref"), cwd=folder, capture_output=True)
    run("srec_cat", "x.hex", "-intel", "-fill", "0xA5", str(low), str(high), "-offset", f"-{low}", "-o", "z.bin", "-binary")
    made = run(*tool("tesslar-merge"), "--pad", "0xA5", "-o", "y.bin", "--uf2-family", "0xE48BFF56", "-o", "y.uf2", "x.hex")
    back = [run(*tool("tesslar-merge"), "--pad", "0", "-o", f"{name}.bin", f"{name}.srec") for name in ("ref/x", "cat")]
    uf2, pages = read("y.uf2"), sorted({a >> 8 for a in image})
    blocks = [struct.unpack("<8I", uf2[i:i + 32]) + (uf2[i + 32:i + 288], uf2[i + 288:i + 512]) for i in range(0, len(uf2), 512)]
    ok = read("ref/x.srec") == read("our/x.srec") != b"" and read("y.bin") == read("z.bin") and len(blocks) == len(pages)
    for name in ("ref/x", "cat"):  # each read back, its gaps 0
        ok = ok and read(f"{name}.bin") == bytes(image.get(a, 0) for a in range(low, high))
    for number, (page, b) in enumerate(zip(pages, blocks)):
        ok = ok and b[:8] == (0x0A324655, 0x9E5D5157, 0x2000, page << 8, 256, number, len(pages), 0xE48BFF56) \
            and b[8] == bytes(image.get((page << 8) + i, 0) for i in range(256)) and b[9] == bytes(220) + b"\x30\x6F\xB1\x0A"
    return ok, f"{len(image)} bytes from {low:#x} to {high:#x}, {n} a record", made, back[0]


def stamps():  # each stamp of a random list against zlib, hashlib and arithmetic; sums against srec_cat too
    base, data = rng.randrange(1 << 31), rng.randbytes(rng.randrange(1, 70000))
    first, last = base + rng.randrange(len(data)), base + len(data) - 1
    covered, place, options, want = data[first - base:], base + len(data) + rng.randrange(3), [], []
    for _ in range(rng.randrange(1, 6)):
        kind, width, big = rng.choice(["crc-32", "adler32", "sha256", "sum", "sum-neg", "sum-not", "length", "const"]), 4, rng.random() < .5
        width = rng.choice([1, 2, 4]) if kind.startswith("sum") else 32 if kind == "sha256" else width
        total, value = sum(covered), rng.randrange(1 << 32)
        value = {"crc-32": zlib.crc32(covered), "adler32": zlib.adler32(covered), "sum": total, "sum-neg": -total,
                 "sum-not": ~total, "length": len(covered), "const": value}.get(kind, 0) % (1 << 8 * width)
        stored = hashlib.sha256(covered).digest() if kind == "sha256" else value.to_bytes(width, "big" if big else "little")
        setting = (f",value={value}" if kind == "const" else f",range={first}:{last}") + ",endian=big" * (big and kind != "sha256")
        options += ["--stamp", f"{kind}@{place}{setting}" + (f",width={width}" if kind.startswith("sum") else "")]
        want.append((place, stored, kind, width, big))
        place += width + rng.randrange(3)
    open("x.hex", "w").write("".join(record(0, 4, bytes([a >> 24, a >> 16 & 0xFF])) + record(a & 0xFFFF, 0, data[a - base:a - base + 32])
                                     for a in range(base, base + len(data), 32)) + ":00000001FF\n")
    made = run(*tool("tesslar-merge"), *options, "-o", "y.bin", "x.hex")
    out, ok = read("y.bin"), made.returncode == 0
    for at, stored, kind, width, big in want:
        ok = ok and out[at - base:at - base + len(stored)] == stored
        if kind in ("sum", "sum-neg") and ok:  # srec_cat's checksum of the same bytes, of 8-bit values
            run("srec_cat", "x.hex", "-intel", "-crop", str(first), str(last + 1), f"-checksum-{kind[4:] or 'pos'}-{'b' if big else 'l'}-e",
                str(at), str(width), "1", "-crop", str(at), str(at + width), "-offset", f"-{at}", "-o", "z.bin", "-binary")
            ok = read("z.bin") == stored
    return ok, f"{len(data)} bytes at {base:#x}, {' '.join(options)}", made, made


def filters():  # random --crop/--exclude/--offset chains on up to three inputs, against srec_cat's filters
    ours, theirs, image = [], [], set()
    for i in range(rng.randrange(1, 4)):  # each input in a 256 MiB band of its own, its data 0 to 2 KiB in
        band, data = i << 28 | 1 << 27, rng.randbytes(rng.randrange(1, 2048))
        lines = [record(0, 4, bytes([a >> 24, a >> 16 & 0xFF])) + record(a & 0xFFFF, 0, data[a - band:a - band + 32])
                 for a in range(band, band + len(data), 32)]
        rng.shuffle(lines)
        open(f"in{i}.hex", "w").write("".join(lines) + ":00000001FF\n")
        ours.append(f"in{i}.hex")
        theirs.append(["(", f"in{i}.hex", "-intel"])
        for _ in range(rng.randrange(4)):
            kind, first = rng.choice(["crop", "exclude", "offset"]), band + rng.randrange(-64, 2100)
            last = first + rng.randrange(600)
            if kind == "offset":
                n = rng.randrange(-4096, 4096)
                ours += ["--offset", str(n)] if n >= 0 else ["--offset", f"-{-n}"]
                theirs[-1] += ["-offset", str(n)]
                band += n
            else:
                ours += [f"--{kind}", f"{first}:{last}"]
                theirs[-1] += [f"-{kind}", str(first), str(last + 1)]
        theirs[-1].append(")")
    run("srec_cat", *sum(theirs, []), "-o", "ref.hex", "-intel")
    made = run(*tool("tesslar-merge"), "-o", "out.hex", *ours)
    # the same image when srec_cat writes both alike; an input left empty is refused, where srec_cat leaves nothing of it
    images = [run("srec_cat", name, "-intel", "-o", "-", "-motorola").stdout for name in ("ref.hex", "out.hex")]
    empty = [i for i, t in enumerate(theirs) if b"in%d.hex' holds no data" % i in made.stderr]
    ok = made.returncode == 0 and images[0] == images[1] or empty != [] and run("srec_cat", *theirs[empty[0]][1:-1], "-o",
                                                                               "-", "-motorola").stdout.count(b"\nS3") == 0
    return ok, " ".join(ours), made, made


def real_file(name):
    path = os.path.join(real, name)
    if name.endswith(".hex"):  # tesslar's image from address 0 ends with objcopy's from the lowest
        run(*tool("tesslar"), path, "y.bin")
        run("objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", path, "z.bin")
        ours, theirs = read("y.bin"), read("z.bin")
        return ours.endswith(theirs) and set(ours[:len(ours) - len(theirs)]) <= {0xFF} and len(theirs) > 0
    for select in ([], ["-R", ".config", "-R", ".eh_frame"], ["-j", ".text", "-j", ".data", "-j", ".tdata"]):
        run("objcopy", "-O", "ihex", *select, path, "ref.hex")
        run(*tool("tesslar-merge"), *select, "-o", "out.hex", path)
        for made in ("ref", "out"):  # srec_cat writes both images, start address included, alike
            run("srec_cat", made + ".hex", "-intel", "-o", made + ".s19", "-motorola")
        if read("ref.s19") != read("out.s19") or not read("ref.s19"):
            return False
    return name.endswith(".elf")


for check, names in ((round_trip, range(count)), (merge, range(count)), (overlaps, range(count)),
                     (formats, range(count)), (stamps, range(count)), (filters, range(count)),
                     (real_file, sorted(os.listdir(real)))):
    for n in names:
        for name in ("x.hex", "out.hex", "ref.hex", "y.bin", "z.bin", "y.uf2", "cat.srec", "ref/x.srec", "our/x.srec"):
            if os.path.exists(name):
                os.remove(name)
        if check == real_file:
            if not n.endswith(".md") and not real_file(n):
                failures += 1
                print(f"FAIL {n}")
            continue
        ok, what, first, second = check()
        if not ok:
            failures += 1
            print(f"FAIL {check.__name__} #{n}: {what}\n{first.stdout.decode()}{second.stdout.decode()}")
print(f"{6 * count - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
