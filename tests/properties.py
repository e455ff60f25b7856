#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Properties on random data, COUNT cases of each (README.md says which), and
the files of data/real against objcopy.
    properties.py BUILD_DIR COUNT [WINE]"""
import atexit, hashlib, json, os, random, resource, shutil, signal, struct, subprocess, sys, tempfile
import zlib

real = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "real")
build, count, wine = os.path.abspath(sys.argv[1]), int(sys.argv[2]), sys.argv[3:4]
os.environ["WINEDEBUG"] = "-all"
rng, failures = random.Random(2026), 0
R = rng.randrange
os.chdir(tempfile.mkdtemp(prefix="tesslar-properties-"))
atexit.register(shutil.rmtree, os.getcwd(), True)
# a broken command writes no more than 256 MiB a file
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 28, 1 << 28))


def run(*command, cwd=None):
    return subprocess.run([str(word) for word in command], capture_output=True, cwd=cwd)


def tool(name, *arguments, cwd=None):  # one of ours, under wine when its path is given
    return run(*wine, os.path.join(build, name + (".exe" if wine else "")), *arguments, cwd=cwd)


def read(name):
    return open(name, "rb").read() if os.path.exists(name) else b""


def record(address, kind, data):
    fields = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":%s%02X\n" % (fields.hex().upper(), -sum(fields) & 0xFF)


def records(at, data, n=32):  # `data` from `at` on in records of n bytes, each after its 04 record
    return [record(0, 4, (a >> 16).to_bytes(2, "big")) + record(a, 0, data[a - at:a - at + n])
            for a in range(at, at + len(data), n)]


def write_hex(name, lines):
    open(name, "w").write("".join(lines) + ":00000001FF\n")


def regions(at, count, size, gap, n=32):  # `count` runs of random bytes: their records, byte map
    image, lines = {}, []
    for _ in range(count):
        at += gap()
        data = rng.randbytes(size())
        lines += records(at, data, n)
        image.update(zip(range(at, at + len(data)), data))
        at += len(data)
    return image, lines


def round_trip():
    mode, top = rng.choice([("16bit", 0xFFFF), ("segment", 0xFFFFF), ("linear", 0xFFFFFFFF)])
    data = bytearray()
    for _ in range(rng.choice([0, 1, 3, 30, 300, 2000])):  # pieces, a third of them erased flash
        data += b"\xff" * R(1, 200) if rng.random() < 0.3 else rng.randbytes(R(1, 100))
    if rng.random() < 0.05:  # a region of exactly 1 MiB, once in a while
        data = bytearray(rng.randbytes(1 << 20))
    del data[top:]  # within the 64 KiB of the 16-bit mode, or beyond it
    room = top + 1 - len(data)
    address = rng.choice([0, R(room), room - 1, max(0, min(room - 1, R(1, 16) << 16) - 7)])
    n = rng.choice([1, 16, 32, 255, R(1, 256)])
    open("in.bin", "wb").write(data)
    made = tool("tesslar-hex", "--address", address, "--record-bytes", n, "--mode", mode, "in.bin",
                "x.hex")
    back = tool("tesslar", "--offset", f"-{address}", "x.hex", "y.bin")
    # every byte back, every line accepted, the end-of-file record last
    ok = made.returncode == back.returncode == 0 and read("y.bin") == data \
        and b"End-of-file record detected" in back.stdout and b"WARNING" not in back.stdout
    if ok and data:
        run("objcopy", "-I", "ihex", "-O", "binary", "x.hex", "z.bin")
        ok = read("z.bin") == data
    return ok, f"{len(data)} bytes at {address:#x}, {mode}, {n} a record", made, back


def merge():  # records dealt out to inputs, merged, filled and stamped as srec_cat does it
    gap = lambda: rng.choice([0] * 20 + [1, R(1, 70000)])  # records that touch, or gaps
    at = rng.choice([0, R(1 << 20), R(1 << 32) & ~0xFFFFF])
    image, lines = regions(at, R(1, 100), lambda: R(1, 256), gap, 256)
    files, inputs = [[] for _ in range(R(1, 6))], []
    for line in lines:
        rng.choice(files).append(line)
    for i, part in enumerate(files):
        rng.shuffle(part)
        if part:
            write_hex(f"in{i}.hex", part)
            inputs.append(f"in{i}.hex")
    low, high, slot = min(image), max(image) + 1, []
    crc = rng.choice([None, "crc32-l-e", "crc32-b-e", "stm32-l-e"]) if high < 0xFFFFFF00 else None
    if crc:  # filled up to a CRC of the whole, srec_cat's the same from the inputs
        high += R(0, 40) if crc[0] == "c" else (low - high) % 4 + 4 * R(0, 10)
        # the fill ends with the CRC, which then covers the fill before it
        slot = ["--fill", f"{low}:{high + 3}", "--crc", "CRC-32" if crc[0] == "c" else "STM32",
                "--crc-endian", "big" if "-b-" in crc else "little", "--crc-at", high]
        run("srec_cat", "(", *[w for f in inputs for w in (f, "-intel")], ")", "-fill", "0xFF",
            low, high, f"-{crc}", high, "-o", "ref.hex", "-intel")
    expected = bytes(image.get(a, 0xFF) for a in range(low, high))
    merged = tool("tesslar-merge", "--record-bytes", R(1, 256), *slot, "-o", "out.hex", *inputs)
    back = tool("tesslar", "--offset", f"-{low}", "out.hex", "y.bin")
    run("srec_cat", "ref.hex" if crc else "out.hex", "-intel", "-fill", "0xFF", low,
        high + 4 * bool(crc), "-offset", -low, "-o", "z.bin", "-binary")
    ok = merged.returncode == back.returncode == 0 and read("y.bin")[:high - low] == expected \
        and read("y.bin") == read("z.bin") and len(read("y.bin")) == high - low + 4 * bool(crc)
    return ok, f"{len(lines)} records, {len(inputs)} inputs, {low:#x}-{high:#x} {crc}", merged, back


def overlaps():  # tesslar keeps the highest start's byte (of equal starts, the first's)
    recs = [(R(4096), rng.randbytes(R(1, 40))) for _ in range(rng.choice([3, 100, 3000]))]
    shape = rng.choice(["random", "descending", "blocks reversed"])
    recs.sort(key=lambda r: {"random": 0, "descending": -r[0]}.get(shape, (-(r[0] >> 8), r[0])))
    write_hex("x.hex", [record(a, 0, d) for a, d in recs])
    images = [bytearray(b"\xff" * max(a + len(d) for a, d in recs)) for _ in range(3)]
    # and tesslar-merge the last record's or the first's
    for image, order in zip(images, (sorted(range(len(recs)), key=lambda i: (recs[i][0], -i)),
                                     range(len(recs)), reversed(range(len(recs))))):
        for a, d in (recs[i] for i in order):
            image[a:a + len(d)] = d
    done = tool("tesslar", "x.hex", "y.bin")
    ok = done.returncode == 0 and read("y.bin") == images[0]
    for policy, image in (("last", images[1]), ("first", images[2])):
        merged = tool("tesslar-merge", "--overlap", policy, "-o", "out.hex", "x.hex")
        ok = ok and tool("tesslar", "out.hex", "z.bin").returncode == 0 and read("z.bin") == image
    return ok, f"{len(recs)} records, {shape}", done, merged


def formats():  # S-records as objcopy's, read back from srec_cat's; a binary; UF2 through a decoder
    at = rng.choice([0, R(1 << 16), R(1 << 24), R(1 << 31)])
    image, lines = regions(at, R(1, 4), lambda: R(1, 600), lambda: R(1, 5000))
    write_hex("x.hex", lines)
    low, high, n = min(image), max(image) + 1, rng.choice([1, 16, 32, R(1, 251)])
    run("srec_cat", "x.hex", "-intel", "-o", "cat.srec", "-motorola")  # objcopy -I ihex: cut at 04s
    for folder in ("ref", "our"):
        os.makedirs(folder)
    run("objcopy", "-Isrec", "-Osrec", f"--srec-len={n}", "../cat.srec", "x.srec", cwd="ref")
    tool("tesslar-merge", "--record-bytes", n, "-o", "x.srec", "../cat.srec", cwd="our")
    run("srec_cat", "x.hex", "-intel", "-fill", "0xA5", low, high, "-offset", -low, "-o", "z.bin",
        "-binary")
    family = 0xE48BFF56
    made = tool("tesslar-merge", "--pad=0xA5", "--uf2-family", family, "-o", "y.bin", "-o", "y.uf2",
                "x.hex")
    back = [tool("tesslar-merge", "--pad=0", "-o" + x + ".bin", x + ".srec") for x in ("ref/x", "cat")]
    uf2, pages = read("y.uf2"), sorted({a >> 8 for a in image})
    blocks = [uf2[i:i + 512] for i in range(0, len(uf2), 512)]
    ok = read("ref/x.srec") == read("our/x.srec") != b"" and read("y.bin") == read("z.bin") \
        and len(blocks) == len(pages)
    for x in ("ref/x", "cat"):  # each read back, its gaps 0
        ok = ok and read(f"{x}.bin") == bytes(image.get(a, 0) for a in range(low, high))
    for number, (page, b) in enumerate(zip(pages, blocks)):
        header = (0x0A324655, 0x9E5D5157, 0x2000, page << 8, 256, number, len(pages), family)
        ok = ok and struct.unpack("<8I", b[:32]) == header and b[288:] == bytes(220) + b"\x30\x6F\xB1\x0A" \
            and b[32:288] == bytes(image.get((page << 8) + i, 0) for i in range(256))
    return ok, f"{len(image)} bytes from {low:#x} to {high:#x}, {n} a record", made, back[0]


def stamps():  # random stamps against zlib, hashlib and arithmetic; sums against srec_cat too
    base, data = R(1 << 31), rng.randbytes(R(1, 70000))
    first, last = base + R(len(data)), base + len(data) - 1
    covered, place, options, want = data[first - base:], base + len(data) + R(3), [], []
    for _ in range(R(1, 6)):
        kind = rng.choice("crc-32 adler32 sha256 sum sum-neg sum-not length const".split())
        big, total, value = rng.random() < .5, sum(covered), R(1 << 32)
        width = rng.choice([1, 2, 4]) if kind.startswith("sum") else 32 if kind == "sha256" else 4
        value = {"crc-32": zlib.crc32(covered), "adler32": zlib.adler32(covered), "sum": total,
                 "sum-neg": -total, "sum-not": ~total, "length": len(covered), "const": value}
        value = value.get(kind, 0) % (1 << 8 * width)
        stored = value.to_bytes(width, "big" if big else "little")
        stored = hashlib.sha256(covered).digest() if kind == "sha256" else stored
        setting = f",value={value}" if kind == "const" else f",range={first}:{last}"
        setting += ",endian=big" * (big and kind != "sha256") + f",width={width}" * kind.startswith("sum")
        options += ["--stamp", f"{kind}@{place}{setting}"]
        want.append((place, stored, kind, width, big))
        place += width + R(3)
    write_hex("x.hex", records(base, data))
    made = tool("tesslar-merge", *options, "-o", "y.bin", "x.hex")
    out, ok = read("y.bin"), made.returncode == 0
    for at, stored, kind, width, big in want:
        ok = ok and out[at - base:at - base + len(stored)] == stored
        if kind in ("sum", "sum-neg") and ok:  # srec_cat's checksum of the same 8-bit values
            run("srec_cat", "x.hex", "-intel", "-crop", first, last + 1,
                f"-checksum-{kind[4:] or 'pos'}-{'b' if big else 'l'}-e", at, width, 1,
                "-crop", at, at + width, "-offset", -at, "-o", "z.bin", "-binary")
            ok = read("z.bin") == stored
    return ok, f"{len(data)} bytes at {base:#x}, {' '.join(options)}", made, made


def filters():  # random --crop/--exclude/--offset chains on 1 to 3 inputs, against srec_cat's
    ours, theirs = [], []
    for i in range(R(1, 4)):  # each input in a 256 MiB band of its own, its data 0 to 2 KiB in
        band, data = i << 28 | 1 << 27, rng.randbytes(R(1, 2048))
        lines = records(band, data)
        rng.shuffle(lines)
        write_hex(f"in{i}.hex", lines)
        ours.append(f"in{i}.hex")
        theirs.append(["(", f"in{i}.hex", "-intel"])
        for _ in range(R(4)):
            kind, first = rng.choice(["crop", "exclude", "offset"]), band + R(-64, 2100)
            n = R(-4096, 4096)
            if kind == "offset":
                ours += ["--offset", n if n >= 0 else f"-{-n}"]
                theirs[-1] += ["-offset", n]
                band += n
            else:  # srec_cat's ranges end one past the last address
                last = first + R(600)
                ours += [f"--{kind}", f"{first}:{last}"]
                theirs[-1] += [f"-{kind}", first, last + 1]
        theirs[-1].append(")")
    run("srec_cat", *sum(theirs, []), "-o", "ref", "-intel")
    made = tool("tesslar-merge", "-O", "ihex", "-o", "out", *ours)
    # srec_cat writes both images alike; an input left empty is refused, where srec_cat drops it
    images = [run("srec_cat", x, "-intel", "-o", "-", "-motorola").stdout for x in ("ref", "out")]
    empty = [t for i, t in enumerate(theirs) if b"in%d.hex' holds no data" % i in made.stderr]
    ok = made.returncode == 0 and images[0] == images[1] or empty != [] and \
        b"\nS3" not in run("srec_cat", *empty[0][1:-1], "-o", "-", "-motorola").stdout
    return ok, " ".join(map(str, ours)), made, made


def memory(name):  # srec_cat's S-records of an IHEX file: its bytes and start, as one text
    return run("srec_cat", name, "-intel", "-o", "-", "-motorola").stdout


def readmemh(text, width, big):  # a Verilog memory file's bytes, as $readmemh reads words of `width`
    image, at = {}, 0
    for word in text.split():
        if word.startswith("@"):
            at = int(word[1:], 16) * width
            continue
        image.update(zip(range(at, at + width), int(word, 16).to_bytes(width, "big" if big else "little")))
        at += width
    return image


def layouts():  # --align, --swap, --split, TI-TXT, UF2 and word sums against srec_cat; after/end computed
    image, lines = regions(R(1 << 20) * 8, R(1, 4), lambda: R(1, 80) * 8, lambda: R(1, 100) * 8)
    write_hex("x.hex", lines)
    low, high = min(image), max(image) + 1
    n, group, lanes, width, unit = 2 << R(12), rng.choice([2, 4, 8]), rng.choice([2, 4]), R(1, 3), 1 << R(3)
    lane, big, place, align = R(lanes), rng.random() < .5, high + R(4), 1 << R(5)
    ours = [["--align", n, "--pad", "0xA5", "-o", "a.hex"], ["--swap", group, "-o", "s.hex"],  # after x.hex
            ["-o", "l.hex", "--split", f"{lanes},byte={lane},width={width}"], ["-O", "ti-txt", "-o", "t.txt"]]
    theirs = [["-fill", "0xA5", "-within", "x.hex", "-intel", "-range-padding", n, "-o", "a.ref", "-intel"],
              ["-byte-swap", group, "-o", "s.ref", "-intel"],
              ["-split", lanes * width, lane * width, width, "-o", "l.ref", "-intel"], ["-o", "t.ref", "-ti-txt"]]
    made = [tool("tesslar-merge", "x.hex", *o) for o in ours]
    for t in theirs:
        run("srec_cat", "x.hex", "-intel", *t)
    ok = all(m.returncode == 0 for m in made) and read("t.txt") == read("t.ref")
    ok = ok and all(memory(f"{x}.hex") == memory(f"{x}.ref") != b"" for x in "asl")
    made.append(tool("tesslar-merge", "--pad", "0xA5", "-o", "img.c", "-o", "img.bin", "x.hex"))
    compiled = R(8) == 0  # a compiler's run is slow: one case in eight
    open("main.c", "w").write("#include <stdint.h>\n#include <stdio.h>\nextern const uint8_t img[];\nextern const "
                              "uint32_t img_size, img_address;\nint main(void) { printf(\"%08X \", (unsigned) "
                              "img_address); fwrite(img, 1, img_size, stdout); return 0; }\n")
    if compiled:  # the array holds the binary
        run("gcc", "-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-o", "c", "main.c", "img.c")
        ok = ok and run("./c").stdout == b"%08X " % low + read("img.bin")
    made.append(tool("tesslar-merge", "--uf2-family", "RP2040", "-o", "u.uf2", "t.ref"))
    made.append(tool("tesslar-merge", "-o", "u.hex", "u.uf2"))
    ok = ok and memory("u.hex") == memory("x.hex") if len(image) % 256 == 0 and low % 256 == 0 else ok
    # a CRC past the data, the length up to its end, a sum of words, in their order
    first, data = low + R(high - low) // unit * unit, bytes(image.get(a, 0xFF) for a in range(low, high))
    words = [int.from_bytes(data[a - low:a - low + unit], "big" if big else "little")
             for a in range(first, high - (high - first) % unit, unit)]
    last = first + len(words) * unit - 1
    at = (high + align - 1) // align * align
    stamps = ["--fill", f"{low}:{high - 1}", "--stamp", f"crc-32@after,align={align}", "--stamp",
              f"length@{at + 4},range={first}:end", "--stamp",
              f"sum-neg@{at + 8},range={first}:{last},unit={unit},width=4,endian={'big' if big else 'little'}"]
    made.append(tool("tesslar-merge", *stamps, "-o", "y.bin", "x.hex"))
    out = read("y.bin")[at - low:]
    want = struct.pack("<II", zlib.crc32(data), high - first) + (-sum(words) % (1 << 32)).to_bytes(4, "big" if big
                                                                                                   else "little")
    ok = ok and out == want
    return ok, f"{len(image)} bytes at {low:#x}: {ours} {stamps}", made[0], made[-1]


keys = tempfile.mkdtemp(prefix="tesslar-keys-")  # made once, by openssl, for every case
atexit.register(shutil.rmtree, keys, True)
for kind, options in [("ed25519", []), ("ecdsa-p256", ["-pkeyopt", "ec_paramgen_curve:P-256"]),
                      ("rsa-2048", ["-pkeyopt", "rsa_keygen_bits:2048"])]:
    key = os.path.join(keys, kind)
    run("openssl", "genpkey", "-algorithm", kind.split("-")[0].replace("ecdsa", "EC"), *options, "-out", key)
    run("openssl", "pkey", "-in", key, "-pubout", "-out", key + ".pub")
    run("openssl", "pkey", "-in", key, "-pubout", "-outform", "DER", "-out", key + ".der")
    if kind.startswith("rsa"):  # MCUboot hashes RSA's PKCS#1 form
        run("openssl", "rsa", "-in", key, "-RSAPublicKey_out", "-outform", "DER", "-out", key + ".der")


pss = "-pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32".split()


def mcuboot():  # random images and settings against MCUboot's layout; SHA-256 by hashlib, signatures by openssl
    slot, header, data, big = R(1 << 16) * 0x8000, rng.choice([0x20, 0x100, 0x200]), rng.randbytes(R(1, 3000)), R(2)
    # the Windows build signs nothing: it has no OpenSSL
    align, sectors, kind, pad = 1 << R(6), R(1, 16), rng.choice(["", "ed25519", "ecdsa-p256", "rsa-2048"][:4 - 3 * bool(wine)]), R(4)
    version, counter, overwrite, number = (R(256), R(256), R(1 << 16), R(1 << 32)), R(3), R(2), R(9)
    max_align = max(8, align)
    write_hex("x.hex", records(slot + header, data))
    erased = rng.choice([0, 0xFF])
    setting = (f",key={os.path.join(keys, kind)}" * bool(kind) + ",endian=big" * big + ",overwrite-only" * overwrite +
               f",erased={erased:#04x}" +
               ["", ",pad", ",confirm", ",test"][pad] + [",security-counter=auto", f",security-counter={number}", ""][counter])
    options = f"{slot}:{slot + 0x7FFF},version={'%d.%d.%d+%d' % version},header={header},align={align}," \
              f"max-sectors={sectors}" + setting
    if kind and R(2):  # the key kept elsewhere: the digest out, signed by openssl, the signature in
        tool("tesslar-merge", "--mcuboot", options + ",digest=digest", "x.hex")
        run("openssl", "pkeyutl", "-sign", "-inkey", os.path.join(keys, kind), "-in", "digest", "-out", "signature",
            *["-rawin"] * (kind == "ed25519"), *pss * (kind == "rsa-2048"))
        options = options.replace(os.path.join(keys, kind), os.path.join(keys, kind + ".pub")) + ",signature=signature"
    made = tool("tesslar-merge", "--mcuboot", options, "-o", "y.bin", "x.hex")
    out, e = read("y.bin"), ">" if big else "<"
    fields = struct.unpack(e + "IIHHIIBBHI", out[:28]) if len(out) >= 28 else ()
    protect = 12 * (counter < 2)
    ok = fields[:6] == (0x96F3B83D, 0, header, protect, len(data), 0) and fields[6:] == version \
        and out[28:header] == bytes(header - 28) and out[header:header + len(data)] == data
    at = header + len(data)
    value = version[0] << 24 | version[1] << 16 | version[2] if counter == 0 else number
    ok = ok and (counter == 2 or out[at:at + 12] == struct.pack(e + "HHBBHI", 0x6908, 12, 0x50, 0, 4, value))
    tlvs, (magic, total), at = {}, struct.unpack(e + "HH", out[at + protect:at + protect + 4]), at + protect + 4
    last = min(len(out), at - 4 + total)
    while at < last and len(tlvs) < 4:  # type, 0, length, value
        size = struct.unpack(e + "H", out[at + 2:at + 4])[0]
        tlvs[out[at]] = out[at + 4:at + 4 + size]
        at += 4 + size
    digest = hashlib.sha256(out[:header + len(data) + protect]).digest()
    ok = ok and magic == 0x6907 and total == at - header - len(data) - protect and tlvs.pop(0x10) == digest
    if kind:  # the key's hash, and a signature openssl verifies
        der = open(os.path.join(keys, kind + ".der"), "rb").read()
        open("digest", "wb").write(digest)
        open("signature", "wb").write(tlvs.pop({"ed": 0x24, "ec": 0x22, "rs": 0x20}[kind[:2]], b""))
        check = run("openssl", "pkeyutl", "-verify", "-pubin", "-inkey", os.path.join(keys, kind + ".pub"),
                    "-in", "digest", "-sigfile", "signature", *["-rawin"] * (kind == "ed25519"),
                    *pss * (kind == "rsa-2048"))
        ok = ok and tlvs.pop(0x01) == hashlib.sha256(der).digest() and check.returncode == 0
    end = slot_end = 0x8000
    image_ok = out[end - (16 + max_align - 1) // max_align * max_align - max_align:][:max_align]
    magic = struct.pack(e + "H", max_align) + bytes.fromhex("2DE15D29410B8D77679C110F1F8A") if max_align != 8 else \
        bytes.fromhex("77C295F360D2EF7F3552500F2CB67980")
    ok = ok and not tlvs and (len(out) == at if not pad else len(out) == slot_end and out[-16:] == magic and
                             image_ok[0] == (1 if pad == 2 and not overwrite else erased) and
                             out[at:-16 - max_align * 2] == bytes([erased]) * len(out[at:-16 - max_align * 2]))
    return ok, f"{len(data)} bytes at {slot + header:#x}{setting}", made, made


npm = os.path.join(keys, "npm")  # the npm package uf2, as a UF2 file's other writer
run("npm", "install", "--silent", "--no-audit", "--no-fund", "--prefix", npm, "uf2@2.0.0")
encode = ("const u = require('uf2'), fs = require('fs'), blocks = JSON.parse(process.argv[1]);"
          "fs.writeFileSync('x.uf2', Buffer.concat(blocks.map(([flags, address, data], n) => u.encodeBlock({flags,"
          "flashAddress: address, payload: Buffer.from(data, 'hex'), blockNumber: n, totalBlocks: blocks.length,"
          "boardFamily: 0xE48BFF56}))));")


def uf2_in():  # what the npm package uf2 encodes, read back to its bytes but the blocks not for the main flash
    blocks, lines = [[0x2000 | (n != 0 and R(4) == 0), n << 12 | R(256), rng.randbytes(R(1, 477)).hex()]
                     for n in range(R(1, 8))], []
    for flags, address, data in blocks:
        lines += [] if flags & 1 else records(address, bytes.fromhex(data))
    write_hex("x.hex", lines)
    os.environ["NODE_PATH"] = os.path.join(npm, "node_modules")
    encoded = run("node", "-e", encode, json.dumps(blocks))
    made = tool("tesslar-merge", "-o", "y.hex", "x.uf2")
    return encoded.returncode == 0 and memory("y.hex") == memory("x.hex"), str(blocks)[:300], made, encoded


def real_file(name):
    path, ok = os.path.join(real, name), name.endswith((".hex", ".elf"))
    if name.endswith(".hex"):  # tesslar's image from address 0 ends with objcopy's from the lowest
        made = tool("tesslar", path, "y.bin")
        run("objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", path, "z.bin")
        ours, theirs = read("y.bin"), read("z.bin")
        ok = ours.endswith(theirs) and set(ours[:len(ours) - len(theirs)]) <= {0xFF} and theirs
    for select in ([], "-R .config -R .eh_frame".split(), "-j .text -j .data -j .tdata".split()) * \
            name.endswith(".elf"):
        run("objcopy", "-O", "ihex", *select, path, "ref.hex")
        made = tool("tesslar-merge", *select, "-o", "out.hex", path)
        for x in ("ref", "out"):  # srec_cat writes both images, start address included, alike
            run("srec_cat", x + ".hex", "-intel", "-o", x + ".s19", "-motorola")
        ok = ok and read("ref.s19") == read("out.s19") != b""
    for width in (1, 2, 4, 8) * name.endswith(".elf"):  # Verilog words as objcopy writes them, or an error
        big = name.startswith("ppc")
        if run("objcopy", "-O", "verilog", f"--verilog-data-width={width}", path, "ref.vh").returncode != 0:
            continue  # objcopy knows no such words of this machine
        made = tool("tesslar-merge", f"--verilog-width={width}", "--verilog-endian=" + "little big".split()[big],
                    "-o", "out.vh", path)
        ok = ok and (readmemh(read("ref.vh").decode(), width, big) == readmemh(read("out.vh").decode(), width, big)
                     if made.returncode == 0 else b"inside a %d-byte word" % width in made.stderr)
    return ok, name, made, made


properties = (round_trip, merge, overlaps, formats, stamps, filters, layouts, mcuboot, uf2_in)
files = [f for f in sorted(os.listdir(real)) if f.endswith((".hex", ".elf"))]
for check, n in [(p, n) for p in properties for n in range(count)] + [(real_file, f) for f in files]:
    for name in os.listdir():  # a clean folder for each case
        shutil.rmtree(name) if os.path.isdir(name) else os.remove(name)
    ok, what, first, second = check(n) if check == real_file else check()
    if not ok:
        failures += 1
        print(f"FAIL {check.__name__} {n}: {what}\n{first.stdout.decode()}{second.stdout.decode()}")
print(f"{len(properties) * count + len(files) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
