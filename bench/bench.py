#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times tesslar, objcopy and srec_cat on the same IHEX files, alternating run
by run, checks that their images agree and prints a Markdown table of
medians."""
import argparse
import json
import os
import platform
import re
import statistics
import struct
import subprocess
import sys
import time

MiB = 1 << 20
# name, generator shape, image bytes, bytes per record
FULL = [
    ("32 MiB, 16-byte records", "ascending", 32 * MiB, 16),
    ("32 MiB, 32-byte records", "ascending", 32 * MiB, 32),
    ("8 MiB, 255-byte records", "ascending", 8 * MiB, 255),
    ("32 MiB, 64 KiB blocks reversed", "reversed-blocks", 32 * MiB, 16),
    ("4 MiB, descending records", "descending", 4 * MiB, 16),
    ("4 MiB, ascending", "ascending", 4 * MiB, 16),
    ("200 000 records, random order", "random", 3200000, 16),
    ("200 000 records, ascending", "ascending", 3200000, 16),
    ("sparse: 8 regions over 64 MiB", "sparse", 64 * MiB, 16),
    ("scaling: 1 MiB", "ascending", 1 * MiB, 16),
    ("scaling: 4 MiB", "ascending", 4 * MiB, 16),
    ("scaling: 16 MiB", "ascending", 16 * MiB, 16),
    ("scaling: 64 MiB", "ascending", 64 * MiB, 16),
]
QUICK = [
    ("4 MiB, 16-byte records", "ascending", 4 * MiB, 16),
    ("4 MiB, 32-byte records", "ascending", 4 * MiB, 32),
    ("2 MiB, 255-byte records", "ascending", 2 * MiB, 255),
    ("4 MiB, 64 KiB blocks reversed", "reversed-blocks", 4 * MiB, 16),
    ("1 MiB, descending records", "descending", 1 * MiB, 16),
    ("1 MiB, ascending", "ascending", 1 * MiB, 16),
    ("50 000 records, random order", "random", 800000, 16),
    ("sparse: 8 regions over 16 MiB", "sparse", 16 * MiB, 16),
]


def timed(command, output):
    """Wall seconds of one run, the program started directly. The image it
    writes is deleted first, outside the timing: the kernel's freeing of the
    last run's file is no part of this run."""
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    status = subprocess.call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed: {' '.join(command)}")
    return elapsed


def peak_rss(command, work):
    """Peak RSS (KiB) of one run, from GNU time: a child of this process would
    count the interpreter's pages until exec. Kept out of the timed runs so
    that time's own start-up is not counted."""
    report = os.path.join(work, "rss.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(report) as f:
        return int(f.read().split()[-1])


def lowest_address(tesslar, path):
    info = subprocess.run([tesslar, "-i", path], stdout=subprocess.PIPE, text=True, check=True).stdout
    return int(re.search(r"Region at ([0-9A-F]{8})h", info).group(1), 16)


def scaling(args, out_dir):
    """tesslar alone on the scaling files, round after round, next to a run
    that only starts up: the same binary on a file holding nothing but an
    end-of-file record. Prints seconds per MiB as measured and with that
    start-up taken off."""
    sizes = [1, 4, 16, 64]
    empty = os.path.join(args.work, "eof-only.hex")
    with open(empty, "w") as f:
        f.write(":00000001FF\n")
    out = os.path.join(out_dir, "bench-out-scaling.bin")
    commands = {-1: ["/bin/true"], 0: [args.tesslar, empty, out]}
    for mib in sizes:
        path = os.path.join(args.work, f"ascending-{mib * MiB}-16.hex")
        commands[mib] = [args.tesslar, path, out]
    runs = 21
    times = {k: [] for k in commands}
    # Each round starts one place further on, so that no run always follows
    # the largest one (whose exit the system is still cleaning up after).
    order = list(commands)
    for r in range(runs):
        for k in order[r % len(order):] + order[:r % len(order)]:
            times[k].append(timed(commands[k], out))
    if os.path.exists(out):
        os.remove(out)
    med = {k: statistics.median(v) for k, v in times.items()}
    start_up = med[0]
    net = {mib: (med[mib] - start_up) / mib for mib in sizes}
    print()
    print(f"Scaling, tesslar alone, medians of {runs} rounds; start-up (a file with only an end-of-file "
          f"record): {start_up * 1000:.2f} ms; "
          f"/bin/true, for the system's own cost of a process: {med[-1] * 1000:.2f} ms")
    print()
    print("| image | tesslar s | ms per MiB | ms per MiB less start-up | vs 64 MiB, less start-up "
          "| ms per added MiB, from the size before |")
    print("|---:|---:|---:|---:|---:|---:|")
    for i, mib in enumerate(sizes):
        added = ""
        if i > 0:
            before = sizes[i - 1]
            added = f"{(med[mib] - med[before]) * 1000 / (mib - before):.2f}"
        print(f"| {mib} MiB | {med[mib]:.4f} | {med[mib] * 1000 / mib:.2f} | {net[mib] * 1000:.2f} "
              f"| {net[mib] / net[64]:.2f} | {added} |")
    spread = max(net.values()) / min(net.values())
    print()
    print(f"Less start-up, the slowest size per MiB is {spread:.2f} times the fastest.")


def input_order(args, out_dir):
    """tesslar alone on each reordered file and the same records in ascending
    order, the two alternating run by run, so that both meet the machine in
    the same state."""
    pairs = [
        ("64 KiB blocks reversed, 32 MiB", "reversed-blocks", 32 * MiB),
        ("descending records, 4 MiB", "descending", 4 * MiB),
        ("200 000 records in random order", "random", 3200000),
    ]
    runs = 11
    out = os.path.join(out_dir, "bench-out-order.bin")
    print()
    print(f"Input order, tesslar alone, the two files alternating; medians of {runs} runs")
    print()
    print("| records | ascending s | reordered s | reordered / ascending |")
    print("|---|---:|---:|---:|")
    for name, shape, size in pairs:
        commands = [[args.tesslar, os.path.join(args.work, f"{kind}-{size}-16.hex"), out]
                    for kind in ("ascending", shape)]
        times = [[], []]
        for _ in range(runs):
            for i, command in enumerate(commands):
                times[i].append(timed(command, out))
        ascending, reordered = (statistics.median(t) for t in times)
        print(f"| {name} | {ascending:.3f} | {reordered:.3f} | {reordered / ascending:.2f} |")
    if os.path.exists(out):
        os.remove(out)


def workload(args, shape, size, record, base=0):
    """The generated IHEX file of that shape, made on first use."""
    path = os.path.join(args.work, f"{shape}-{size}-{record}.hex" if base == 0 else f"merge-{size}-{base:#x}.hex")
    if not os.path.exists(path):
        subprocess.run([args.gen, shape, str(size), str(record), path] + ([str(base)] if base else []), check=True)
    return path


def merge_inputs(args, count, size, step):
    return [workload(args, "ascending", size, 16, i * step) for i in range(count)]


# name, inputs, bytes each, address step, peers, and for a flash slot the
# address of its CRC-32 (the slot is filled from 0 up to it), and whether a
# SHA-256 of the slot lies in the 32 bytes before the CRC
MERGE_CASES = [("A: 2 inputs of 16 MiB, 16-byte records", 2, 16 * MiB, 0x2000000, ["srec_cat"], None, False),
               ("B: 64 inputs of 64 KiB, 16-byte records", 64, 64 * 1024, 0x10000, ["srec_cat", "hexmerge.py"], None, False),
               ("C: a 16 MiB slot, filled, CRC-32: 2 inputs of 4 MiB", 2, 4 * MiB, 0x800000, ["srec_cat"], 0xFFFFFC, False),
               ("C2: the same slot with a SHA-256 and a CRC-32", 2, 4 * MiB, 0x800000, ["srec_cat"], 0xFFFFFC, True)]
QUICK_MERGE_CASES = [("A: 2 inputs of 4 MiB", 2, 4 * MiB, 0x800000, ["srec_cat"], None, False),
                     ("B: 16 inputs of 64 KiB", 16, 64 * 1024, 0x10000, ["srec_cat", "hexmerge.py"], None, False),
                     ("C: a 4 MiB slot, 2 inputs of 1 MiB", 2, 1 * MiB, 0x200000, ["srec_cat"], 0x3FFFFC, False),
                     ("C2: the same slot with a SHA-256 and a CRC-32", 2, 1 * MiB, 0x200000, ["srec_cat"], 0x3FFFFC, True)]


def slot_options(crc_at, sha=False):
    if not crc_at:
        return []
    sha256 = ["--stamp", f"sha256@{crc_at - 32:#x},range=0:{crc_at - 33:#x}"] if sha else []
    return ["--fill", f"0:{crc_at - 1:#x}"] + sha256 + ["--crc", "CRC-32", "--crc-at", f"{crc_at:#x}"]


def against(args, out_dir):
    """Every workload run by this build and by the one in --against DIR, the two
    alternating run by run: medians, their ratio and each one's peak memory.
    The two must write the same bytes."""
    builds = {"new": os.path.dirname(os.path.abspath(args.tesslar)), "old": os.path.abspath(args.against)}
    rows = []  # name, program, arguments with "{out}" where the output goes
    for name, shape, size, record in QUICK if args.quick else FULL:
        path = workload(args, shape, size, record)
        low = lowest_address(args.tesslar, path)
        rows.append((name, "tesslar", (["--offset", f"-{low:#x}"] if low else []) + [path, "{out}"]))
    for name, count, size, step, _, crc_at, sha in QUICK_MERGE_CASES if args.quick else MERGE_CASES:
        rows.append((name, "tesslar-merge", slot_options(crc_at, sha) + ["-o", "{out}"] + merge_inputs(args, count, size, step)))
    size = (4 if args.quick else 16) * MiB
    elf = elf_file(args, size)
    crc_at = 0x08100000 + size + 0xFC
    rows += [(f"D: a {size // MiB} MiB ELF to IHEX", "tesslar-merge", ["-o", "{out}", elf]),
             ("E: its slot, filled, with a CRC-32", "tesslar-merge",
              ["--fill", f"0x08000000:{crc_at + 3:#x}", "--crc", "CRC-32", "--crc-at", f"{crc_at:#x}", "-o", "{out}", elf]),
             ("F: an ELF of 20 000 sections", "tesslar-merge", ["-o", "{out}", crafted_elf(args, 20000)]),
             (f"G: a {size // MiB} MiB binary to IHEX", "tesslar-hex",
              ["--address", "0x08000000", os.path.join(args.work, f"random-{size}.bin"), "{out}"])]
    runs = args.runs or (3 if args.quick else 7)
    print()
    print(f"This build against {builds['old']}, medians of {runs} runs, the two alternating; the outputs checked identical")
    print()
    print("| workload | program | new s | old s | new / old | new peak RSS | old peak RSS |")
    print("|---|---|---:|---:|---:|---:|---:|")
    for name, program, arguments in rows:
        outs = {b: os.path.join(out_dir, f"bench-against-{b}") for b in builds}
        commands = {b: [os.path.join(builds[b], program)] + [outs[b] if a == "{out}" else a for a in arguments]
                    for b in builds}
        # a workload that needs an option the other build lacks is left out, and said so
        if subprocess.run(commands["old"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
            print(f"| {name} | {program} | | | the old build cannot run it | | |", flush=True)
            continue
        rss = {b: peak_rss(commands[b], args.work) for b in builds}
        times = {b: [] for b in builds}
        for _ in range(runs):
            for b in builds:
                times[b].append(timed(commands[b], outs[b]))
        made = {b: open(outs[b], "rb").read() for b in builds}
        if made["new"] != made["old"]:
            sys.exit(f"{name}: the two builds wrote different bytes")
        for out in outs.values():
            os.remove(out)
        med = {b: statistics.median(times[b]) for b in builds}
        print(f"| {name} | {program} | {med['new']:.4f} | {med['old']:.4f} | {med['new'] / med['old']:.2f} "
              f"| {rss['new'] / 1024:.1f} MiB | {rss['old'] / 1024:.1f} MiB |", flush=True)


def merge(args, out_dir):
    """tesslar-merge against srec_cat and hexmerge.py, alternating run by run;
    the merged files must hold the same memory, as tesslar reads them."""
    merge_bin = os.path.join(os.path.dirname(args.tesslar), "tesslar-merge")
    hexmerge = "/usr/share/python3-intelhex/hexmerge.py"
    # name, inputs, bytes each, address step, peers, and for a flash slot the
    # address of its CRC-32: the slot is filled from 0 up to it
    cases = QUICK_MERGE_CASES if args.quick else MERGE_CASES
    runs = args.runs or (3 if args.quick else 7)
    rows = []
    for name, count, size, step, peers, crc_at, sha in cases:
        inputs = merge_inputs(args, count, size, step)
        outs = {p: os.path.join(out_dir, f"bench-merge-{p}.hex") for p in ["tesslar-merge"] + peers}
        slot, srec_slot = slot_options(crc_at, sha), []
        if crc_at:
            srec_slot = ["-fill", "0xFF", "0", f"{crc_at - 32 * sha:#x}"] + ["-sha256", f"{crc_at - 32:#x}"] * sha \
                + ["-crc32-l-e", f"{crc_at:#x}"]
        commands = {"tesslar-merge": [merge_bin] + slot + ["-o", outs["tesslar-merge"]] + inputs,
                    "srec_cat": ["srec_cat", "("] + [a for p in inputs for a in (p, "-intel")] + [")"] + srec_slot
                    + ["-o", outs["srec_cat"], "-intel"],
                    "hexmerge.py": ["/usr/bin/python3", hexmerge, "-o", outs.get("hexmerge.py")] + inputs}
        times = {p: [] for p in outs}
        for _ in range(runs):
            for p in outs:
                times[p].append(timed(commands[p], outs[p]))
        images = []
        for p, out in outs.items():
            image = out + ".bin"
            subprocess.run([args.tesslar, out, image], stdout=subprocess.DEVNULL, check=True)
            images.append(open(image, "rb").read())
            os.remove(image)
            os.remove(out)
        if any(i != images[0] for i in images):
            sys.exit(f"{name}: the merged files differ")
        med = {p: statistics.median(t) for p, t in times.items()}
        rows.append((name, med))
    print()
    print(f"Merging, medians of {runs} runs, programs alternating; the merged memory checked identical")
    print()
    print("| inputs | tesslar-merge s | srec_cat s | hexmerge.py s | vs srec_cat | vs hexmerge.py |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, med in rows:
        t = med["tesslar-merge"]
        hm = med.get("hexmerge.py")
        print(f"| {name} | {t:.3f} | {med['srec_cat']:.3f} | {'' if hm is None else f'{hm:.3f}'} "
              f"| {med['srec_cat'] / t:.1f}x | {'' if hm is None else f'{hm / t:.1f}x'} |")
    return rows


def elf_file(args, size):
    """The test application with a block of random data in a section of its own,
    loaded at 08100000h: an ELF file of about `size` bytes."""
    path, blob = os.path.join(args.work, f"app-{size}.elf"), os.path.join(args.work, f"random-{size}.bin")
    if not os.path.exists(path):
        with open(blob, "wb") as f:
            f.write(os.urandom(size))
        real = os.path.join(os.path.dirname(__file__), "..", "tests", "data", "real", "arm-cortex-m0plus-app.elf")
        subprocess.run(["arm-none-eabi-objcopy", f"--add-section=.blob={blob}",
                        "--set-section-flags=.blob=alloc,load,readonly,data",
                        "--change-section-address=.blob=0x08100000", real, path], check=True,
                       stderr=subprocess.DEVNULL)
    return path


def crafted_elf(args, count, data_size=48, nested=False):
    """A linked 32-bit ELF file of `count` sections of `data_size` bytes, each in
    a PT_LOAD segment of its own: where each section's segment is looked up by
    scanning every program header, the time grows with count squared. With
    `nested`, every segment's file range holds every section (each is still
    the only one whose addresses hold its own section), so that no search by
    file offset narrows the segments down."""
    path = os.path.join(args.work, f"sections-{count}{'-nested' if nested else ''}.elf")
    if os.path.exists(path):
        return path
    ph_at, base = 52, 0x08000000
    data_at = ph_at + 32 * count
    names = b"\0.shstrtab\0" + b"".join(b".s%d\0" % i for i in range(count))
    names_at = data_at + data_size * count
    sh_at = (names_at + len(names) + 3) & ~3
    out = bytearray(struct.pack("<16sHHIIIIIHHHHHH", b"\x7fELF\x01\x01\x01" + bytes(9), 2, 40, 1, base, ph_at, sh_at,
                                0, 52, 32, count, 40, count + 2, 1))
    for i in range(count):
        at = data_at + data_size * i  # the section's bytes; nested, the segment's begin at the data's start
        first, size = (data_at, data_size * count) if nested else (at, data_size)
        address = base + 64 * i - (at - first)
        out += struct.pack("<8I", 1, first, address, address, size, size, 5, 4)
    for i in range(count):
        out += bytes((i + j) & 0xFF for j in range(data_size))
    out += names + bytes(sh_at - names_at - len(names))
    out += bytes(40) + struct.pack("<10I", 1, 3, 0, 0, names_at, len(names), 0, 0, 1, 0)
    name = len(b"\0.shstrtab\0")
    for i in range(count):
        out += struct.pack("<10I", name, 1, 6, base + 64 * i, data_at + data_size * i, data_size, 0, 0, 4, 0)
        name += len(b".s%d\0" % i)
    with open(path, "wb") as f:
        f.write(out)
    return path


def elf(args, out_dir):
    """tesslar-merge on a 16 MiB ELF file against objcopy -O ihex and -O binary
    (the binary written as a new file on the disk, under args.work, where
    neither flushes it), the filled slot with its CRC-32 against objcopy
    followed by srec_cat, and crafted files of many sections, alternating run
    by run; the images must be the same memory."""
    merge_bin = os.path.join(os.path.dirname(args.tesslar), "tesslar-merge")
    size = (4 if args.quick else 16) * MiB
    path = elf_file(args, size)
    many = 5000 if args.quick else 20000
    crafted, nested = crafted_elf(args, many), crafted_elf(args, many, nested=True)
    most = crafted_elf(args, 3 * many, nested=True)
    crc_at = 0x08100000 + size + 0xFC
    temporary = os.path.join(out_dir, "bench-objcopy.hex")
    objcopy = lambda source: lambda out: ["objcopy", "-O", "ihex", source, out]
    cases = [(f"D: a {size // MiB} MiB ELF to IHEX", path, [], ".hex", out_dir, objcopy(path), None),
             (f"D2: the same to a .bin, a new file on the disk", path, [], ".bin", args.work,
              lambda out: ["arm-none-eabi-objcopy", "-O", "binary", "--gap-fill", "0xFF", path, out], None),
             ("E: its slot, filled, with a CRC-32", path, ["--fill", f"0x08000000:{crc_at + 3:#x}", "--crc", "CRC-32",
                                                          "--crc-at", f"{crc_at:#x}"], ".hex", out_dir,
              lambda out: ["sh", "-c", f"objcopy -O ihex {path} {temporary} && srec_cat {temporary} -intel -fill 0xFF "
                           f"0x08000000 {crc_at:#x} -crc32-l-e {crc_at:#x} -o {out} -intel"], crc_at),
             (f"F: an ELF of {many} sections, each in a segment of its own", crafted, [], ".hex", out_dir,
              objcopy(crafted), None),
             (f"F2: {many} sections, each inside every segment's file range", nested, [], ".hex", out_dir,
              objcopy(nested), None),
             (f"F3: the same with {3 * many} sections and segments", most, [], ".hex", out_dir, objcopy(most), None)]
    runs = args.runs or (3 if args.quick else 7)
    rows = []
    for name, source, slot, ending, folder, peer, crc in cases:
        outs = {p: os.path.join(folder, f"bench-elf-{p}{ending}") for p in ("tesslar-merge", "peer")}
        commands = {"tesslar-merge": [merge_bin] + slot + ["-o", outs["tesslar-merge"], source],
                    "peer": peer(outs["peer"])}
        times = {p: [] for p in outs}
        for _ in range(runs):
            for p in outs:
                times[p].append(timed(commands[p], outs[p]))
        images = []
        for out in outs.values():
            if ending == ".hex":
                subprocess.run([args.tesslar, "--offset", "-0x08000000", out, out + ".bin"],
                               stdout=subprocess.DEVNULL, check=True)
                os.replace(out + ".bin", out)
            images.append(open(out, "rb").read())
            os.remove(out)
        if images[0] != images[1]:
            sys.exit(f"{name}: the images differ")
        rows.append((name, {p: statistics.median(t) for p, t in times.items()}))
    print()
    print(f"ELF inputs, medians of {runs} runs, programs alternating; the images checked identical")
    print()
    print("| workload | tesslar-merge s | objcopy (+ srec_cat) s | times faster |")
    print("|---|---:|---:|---:|")
    for name, med in rows:
        print(f"| {name} | {med['tesslar-merge']:.3f} | {med['peer']:.3f} | {med['peer'] / med['tesslar-merge']:.1f}x |")


def readmemh(text):
    """The bytes a Verilog memory file of 1-byte words holds, from its first address."""
    image, first, at = bytearray(), None, 0
    for word in text.split():
        if word[0] == ord("@"):
            first = int(word[1:], 16) if first is None else first
            at = int(word[1:], 16) - first
            continue
        if at >= len(image):
            image.extend(bytes(at + 1 - len(image)))
        image[at] = int(word, 16)
        at += 1
    return bytes(image)


def formats(args, out_dir):
    """tesslar-merge reading a 16 MiB image as S-records and writing S-records,
    against objcopy -I srec -O srec and srec_cat, and writing a 16 MiB binary
    from IHEX against objcopy -I ihex -O binary, alternating run by run; the
    outputs must hold the same memory."""
    merge_bin = os.path.join(os.path.dirname(args.tesslar), "tesslar-merge")
    size = (4 if args.quick else 16) * MiB
    source = workload(args, "ascending", size, 16)
    srec = os.path.join(args.work, f"ascending-{size}.srec")
    if not os.path.exists(srec):
        subprocess.run(["srec_cat", source, "-intel", "-o", srec, "-motorola"], check=True)
    out = {p: os.path.join(out_dir, f"bench-formats-{p}") for p in ("tesslar-merge", "objcopy", "srec_cat")}
    cases = [(f"S-records to S-records, {size // MiB} MiB", ".srec", {
                 "tesslar-merge": lambda o: [merge_bin, "-o", o, srec],
                 "objcopy": lambda o: ["objcopy", "-I", "srec", "-O", "srec", srec, o],
                 "srec_cat": lambda o: ["srec_cat", srec, "-motorola", "-o", o, "-motorola"]}),
             (f"IHEX to a binary, {size // MiB} MiB", ".bin", {
                 "tesslar-merge": lambda o: [merge_bin, "-o", o, source],
                 "objcopy": lambda o: ["objcopy", "-I", "ihex", "-O", "binary", source, o]}),
             (f"IHEX to Verilog (srec_cat: -vmem), {size // MiB} MiB", ".vh", {
                 "tesslar-merge": lambda o: [merge_bin, "-o", o, source],
                 "objcopy": lambda o: ["objcopy", "-I", "ihex", "-O", "verilog", source, o],
                 "srec_cat": lambda o: ["srec_cat", source, "-intel", "-o", o, "-vmem", "8"]}),
             (f"IHEX to TI-TXT, {size // MiB} MiB", ".txt", {
                 "tesslar-merge": lambda o: [merge_bin, "-O", "ti-txt", "-o", o, source],
                 "srec_cat": lambda o: ["srec_cat", source, "-intel", "-o", o, "-ti-txt"]})]
    runs = args.runs or (3 if args.quick else 7)
    rows = []
    for name, ending, commands in cases:
        times = {p: [] for p in commands}
        for _ in range(runs):
            for p, command in commands.items():
                times[p].append(timed(command(out[p] + ending), out[p] + ending))
        images = []
        for p in commands:  # the memory each output holds, as a binary, or the text of the same format
            if ending == ".srec":
                subprocess.run(["srec_cat", out[p] + ending, "-motorola", "-o", out[p] + ".bin", "-binary"], check=True,
                               stderr=subprocess.DEVNULL)
            if ending == ".vh" and p == "srec_cat":  # another format: the time alone is compared
                continue
            kept = out[p] + (".bin" if ending in (".srec", ".bin") else ending)
            text = open(kept, "rb").read()
            images.append(readmemh(text) if ending == ".vh" else text)
            os.remove(kept)
            if ending == ".srec":
                os.remove(out[p] + ending)
        if any(i != images[0] for i in images):
            sys.exit(f"{name}: the outputs differ")
        rows.append((name, {p: statistics.median(t) for p, t in times.items()}))
    print()
    print(f"Formats, medians of {runs} runs, programs alternating; the outputs checked to hold the same memory")
    print()
    print("| workload | tesslar-merge s | objcopy s | srec_cat s | vs objcopy | vs srec_cat |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, med in rows:
        t, cat, obj = med["tesslar-merge"], med.get("srec_cat"), med.get("objcopy")
        print(f"| {name} | {t:.3f} | {'' if obj is None else f'{obj:.3f}'} | {'' if cat is None else f'{cat:.3f}'} "
              f"| {'' if obj is None else f'{obj / t:.1f}x'} | {'' if cat is None else f'{cat / t:.1f}x'} |")


def mcuboot(args, out_dir):
    """tesslar-merge --mcuboot signing a 1 MiB and a 16 MiB slot (ECDSA P-256,
    confirmed), against `imgtool sign` when --imgtool names it, alternating;
    the two images must verify alike (all but the signature the same)."""
    merge_bin = os.path.join(os.path.dirname(args.tesslar), "tesslar-merge")
    key = os.path.join(args.work, "mcuboot-p256.pem")
    if not os.path.exists(key):
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key],
                       check=True, stdout=subprocess.DEVNULL)
    runs = args.runs or (3 if args.quick else 7)
    print()
    print(f"MCUboot images, medians of {runs} runs, programs alternating")
    print()
    print("| slot | tesslar-merge s | imgtool s | times faster |")
    print("|---|---:|---:|---:|")
    for size in (1 * MiB, 16 * MiB):
        app = os.path.join(args.work, f"mcuboot-app-{size}.bin")
        if not os.path.exists(app):
            with open(app, "wb") as f:
                f.write(bytes(0x200) + os.urandom(size - 0x200 - 0x10000))
        out = os.path.join(out_dir, "bench-mcuboot.bin")
        commands = {"tesslar-merge": [merge_bin, "--mcuboot", f"0:{size - 1:#x},version=1.2.3,key={key},confirm",
                                      "-o", out, "--binary", f"{app}@0", "--crop", f"0x200:{size - 1:#x}"]}
        if args.imgtool:
            commands["imgtool"] = ["python3", args.imgtool, "sign", "--key", key, "--header-size", "0x200",
                                   "--version", "1.2.3", "--slot-size", hex(size), "--pad", "--confirm", app, out]
        times = {p: [] for p in commands}
        for _ in range(runs):
            for p, command in commands.items():
                times[p].append(timed(command, out))
        ours = statistics.median(times["tesslar-merge"])
        theirs = statistics.median(times["imgtool"]) if args.imgtool else None
        print(f"| {size // MiB} MiB | {ours:.3f} | {'' if theirs is None else f'{theirs:.3f}'} | "
              f"{'' if theirs is None else f'{theirs / ours:.1f}x'} |")


def digests(args):
    """quillkit's digests over a buffer in memory, one core, no file."""
    if args.digest:
        sys.stdout.flush()
        subprocess.run([args.digest], check=True)


def history(args, rows, merge_rows):
    """Keeps this full run's ratios in build/bench/history.jsonl and prints, for
    the main workloads, the range of the ratios over every run kept there."""
    path = os.path.join(args.work, "history.jsonl")
    run = {"machine": f"{platform.node()}, {os.cpu_count()} cores, {platform.platform()}",
           "convert": {name: {"tesslar": med["tesslar"], "objcopy": med["objcopy"] / med["tesslar"],
                              "srec_cat": med["srec_cat"] / med["tesslar"]} for name, _, _, med, _ in rows[:3]},
           "merge": {name: {"tesslar-merge": med["tesslar-merge"],
                            **{p: med[p] / med["tesslar-merge"] for p in med if p != "tesslar-merge"}}
                     for name, med in merge_rows}}
    with open(path, "a") as f:
        f.write(json.dumps(run) + "\n")
    runs = [json.loads(line) for line in open(path)]
    print()
    print(f"Over the {len(runs)} full runs kept in {path} ({run['machine']}): tesslar's median time, "
          f"and how many times faster it is, lowest to highest")
    print()
    print("| workload | tesslar s | vs objcopy | vs srec_cat | vs hexmerge.py |")
    print("|---|---:|---:|---:|---:|")
    for table, programs in (("convert", ("objcopy", "srec_cat", "")), ("merge", ("", "srec_cat", "hexmerge.py"))):
        for name in run[table]:
            kept = [r[table][name] for r in runs if name in r.get(table, {})]
            own = "tesslar" if table == "convert" else "tesslar-merge"
            cells = [f"{min(k[p] for k in kept):.1f}x - {max(k[p] for k in kept):.1f}x"
                     if p and all(p in k for k in kept) else "" for p in programs]
            print(f"| {name} | {statistics.median(k[own] for k in kept):.3f} | " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tesslar", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--digest", default=None)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--runs", type=int, default=None)
    parser.add_argument("--only-merge", action="store_true", help="only the merge table")
    parser.add_argument("--only-elf", action="store_true", help="only the table of ELF inputs")
    parser.add_argument("--only-formats", action="store_true", help="only the table of formats")
    parser.add_argument("--only-mcuboot", action="store_true", help="only the table of MCUboot images")
    parser.add_argument("--imgtool", default=None, metavar="PATH", help="MCUboot's imgtool.py, to compare with")
    parser.add_argument("--against", default=None, metavar="DIR",
                        help="only: every workload against the programs of another build in DIR")
    parser.add_argument("--out", default=None,
                        help="folder for the images written (default: /dev/shm when there is one)")
    args = parser.parse_args()
    out_dir = args.out or ("/dev/shm" if os.access("/dev/shm", os.W_OK) else args.work)
    workloads = QUICK if args.quick else FULL
    runs = args.runs or (3 if args.quick else 7)
    srec_runs = max(3, runs // 2)

    if args.against:
        against(args, out_dir)
        return 0
    if args.only_elf or args.only_formats or args.only_mcuboot:
        (elf if args.only_elf else formats if args.only_formats else mcuboot)(args, out_dir)
        return 0
    if args.only_merge:
        merge(args, out_dir)
        elf(args, out_dir)
        formats(args, out_dir)
        digests(args)
        return 0
    rows = []
    for name, shape, size, record in workloads:
        path = workload(args, shape, size, record)
        text_mb = os.path.getsize(path) / 1e6
        low = lowest_address(args.tesslar, path)
        outs = {p: os.path.join(out_dir, f"bench-out-{p}.bin") for p in ("tesslar", "objcopy", "srec_cat")}
        offset = ["--offset", f"-{low:#x}"] if low else []
        commands = {
            "tesslar": [args.tesslar] + offset + [path, outs["tesslar"]],
            "objcopy": ["objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", path, outs["objcopy"]],
            "srec_cat": ["srec_cat", path, "-intel", "-o", outs["srec_cat"], "-binary"],
        }
        rss = {p: peak_rss(commands[p], args.work) for p in commands}
        times = {p: [] for p in commands}
        for r in range(runs):
            for p in commands:
                if p == "srec_cat" and r >= srec_runs:
                    continue
                times[p].append(timed(commands[p], outs[p]))

        # the images must agree; srec_cat's starts at address 0 and leaves
        # gaps as zeros, so it is held against tesslar's zero-padded image
        with open(outs["tesslar"], "rb") as f:
            ours = f.read()
        with open(outs["objcopy"], "rb") as f:
            if f.read() != ours:
                sys.exit(f"{name}: objcopy's image differs")
        reference = os.path.join(out_dir, "bench-reference.bin")
        subprocess.run([args.tesslar, "--pad", "0", path, reference], stdout=subprocess.DEVNULL, check=True)
        with open(reference, "rb") as f, open(outs["srec_cat"], "rb") as g:
            if f.read() != g.read():
                sys.exit(f"{name}: srec_cat's image differs")
        for p in list(outs.values()) + [reference]:
            os.remove(p)

        med = {p: statistics.median(times[p]) for p in commands}
        rows.append((name, text_mb, len(ours), med, rss))
        print(f"{name}: tesslar {med['tesslar']:.3f} s, objcopy {med['objcopy']:.3f} s, "
              f"srec_cat {med['srec_cat']:.3f} s", file=sys.stderr)

    print()
    print(f"{platform.node()}: {os.cpu_count()} cores, {platform.platform()}; medians of {runs} runs "
          f"({srec_runs} for srec_cat), programs alternating")
    print()
    print("| workload | input MB | tesslar s | MB/s | peak RSS / image | objcopy s | srec_cat s "
          "| vs objcopy | vs srec_cat |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, text_mb, image, med, rss in rows:
        t = med["tesslar"]
        print(f"| {name} | {text_mb:.1f} | {t:.3f} | {text_mb / t:.0f} | {rss['tesslar'] * 1024 / image:.2f} "
              f"({rss['tesslar'] / 1024:.0f} MiB) | {med['objcopy']:.3f} | {med['srec_cat']:.3f} "
              f"| {med['objcopy'] / t:.1f}x | {med['srec_cat'] / t:.1f}x |")
    merge_rows = merge(args, out_dir)
    elf(args, out_dir)
    formats(args, out_dir)
    mcuboot(args, out_dir)
    digests(args)
    if not args.quick:
        input_order(args, out_dir)
        scaling(args, out_dir)
        history(args, rows, merge_rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
