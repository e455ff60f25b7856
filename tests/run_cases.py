#!/usr/bin/env python3
"""Runs a table of command cases and compares stdout, exit status and output.

A case file holds `define` lines and cases:

    define NAME "text" "more text"      a named piece of text
    case NAME                            starts a case; the keys follow
    args: -i in.hex                      split like a shell; run in a fresh folder
    input: "text" NAME ...               written to in.hex (pieces concatenated)
    input-file: path                     or a file below the data folder, copied to in.hex
    input-bin: hex 0102 / fill FF 16 / random SEED SIZE / file path
                                         bytes written to in.bin
    limit-memory: KIB                    address-space limit of the child (ulimit -v)
    status: N                            expected exit status
    stdout: "text" NAME ...              expected standard output, exactly
    output: none | empty | hex 0102 ... | fill FF 256 | file path | random SEED SIZE
                                         expected bytes of out.bin (or out.hex);
                                         none: the file must not exist
    output-text: "text" NAME ...         expected text of the output file
    output-name: out.hex                 the file that `output` looks at
    limit-file-size: BYTES               largest file the child may write (ulimit -f)

A key's value may go on over the following indented lines. Text pieces are
double-quoted with Python's escapes; a bare word is a defined name.
"""
import argparse
import ast
import os
import random
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile


def parse_cases(path):
    defines, cases = {}, []
    current = None
    key = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line[0].isspace():
                if key is None:
                    sys.exit(f"{path}:{number}: continuation without a key")
                target = current if current is not None else defines
                target[key] += " " + line.strip()
                continue
            if line.startswith("define "):
                name, _, value = line[len("define "):].partition(" ")
                defines[name] = value
                current, key = None, name
            elif line.startswith("case "):
                current = {"name": line[5:].strip(), "line": number}
                cases.append(current)
                key = None
            else:
                k, sep, value = line.partition(":")
                if not sep or current is None:
                    sys.exit(f"{path}:{number}: expected 'key: value'")
                key = k.strip()
                current[key] = value.strip()
    return defines, cases


def split_pieces(text):
    """Splits a value into quoted strings and bare words."""
    pieces, i = [], 0
    while i < len(text):
        if text[i].isspace():
            i += 1
        elif text[i] == '"':
            j = i + 1
            while text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            pieces.append(("text", ast.literal_eval(text[i:j + 1])))
            i = j + 1
        else:
            j = i
            while j < len(text) and not text[j].isspace():
                j += 1
            pieces.append(("word", text[i:j]))
            i = j
    return pieces


def text_value(text, defines, seen=()):
    out = ""
    for kind, value in split_pieces(text):
        if kind == "text":
            out += value
        elif value in defines and value not in seen:
            out += text_value(defines[value], defines, seen + (value,))
        else:
            raise ValueError(f"undefined name {value!r}")
    return out


def bytes_value(text, data_dir):
    """hex AABB / fill FF 256 / file path / random SEED SIZE, concatenated."""
    words = text.split()
    out = bytearray()
    i = 0
    while i < len(words):
        word = words[i]
        if word == "hex":
            i += 1
            digits = ""
            while i < len(words) and words[i] not in ("hex", "fill", "file", "random"):
                digits += words[i]
                i += 1
            out += bytes.fromhex(digits)
        elif word == "fill":
            out += bytes([int(words[i + 1], 16)]) * int(words[i + 2], 0)
            i += 3
        elif word == "empty":
            i += 1
        elif word == "file":
            with open(os.path.join(data_dir, words[i + 1]), "rb") as f:
                out += f.read()
            i += 2
        elif word == "random":
            rng = random.Random(int(words[i + 1]))
            out += bytes(rng.randrange(256) for _ in range(int(words[i + 2], 0)))
            i += 3
        else:
            raise ValueError(f"unknown bytes word {word!r}")
    return bytes(out)


def show(data):
    return repr(data)[:4000]


def run_case(case, defines, program, data_dir, wrapper):
    folder = tempfile.mkdtemp(prefix="tesslar-case-")
    try:
        if "input" in case:
            with open(os.path.join(folder, "in.hex"), "wb") as f:
                f.write(text_value(case["input"], defines).encode("latin-1"))
        if "input-file" in case:
            shutil.copyfile(os.path.join(data_dir, case["input-file"]), os.path.join(folder, "in.hex"))
        if "input-bin" in case:
            with open(os.path.join(folder, "in.bin"), "wb") as f:
                f.write(bytes_value(case["input-bin"], data_dir))

        limit = case.get("limit-memory")
        file_limit = case.get("limit-file-size")

        def limit_memory():
            if limit:
                size = int(limit) * 1024
                resource.setrlimit(resource.RLIMIT_AS, (size, size))
            if file_limit:
                # a write past the limit then fails with EFBIG instead of a signal
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (int(file_limit), int(file_limit)))

        expected_status = int(case.get("status", "0"))
        if wrapper == ["valgrind"]:
            # Memory errors end the run with status 99. A successful run must
            # also free every block; runs that fail leave that to the process end.
            leaks = "all" if expected_status == 0 else "none"
            wrapper = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=all",
                       f"--errors-for-leak-kinds={leaks}"]
        command = wrapper + [program] + shlex.split(case.get("args", ""))
        run = subprocess.run(command, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=limit_memory, timeout=600)
        problems = []
        if run.returncode != expected_status:
            problems.append(f"exit status {run.returncode}, expected {expected_status}; stderr: {show(run.stderr)}")
        if "stdout" in case:
            expected = text_value(case["stdout"], defines).encode("latin-1")
            if run.stdout != expected:
                problems.append(f"stdout differs\n  got:      {show(run.stdout)}\n  expected: {show(expected)}")
        if "output-text" in case:
            case["output"] = "hex " + text_value(case["output-text"], defines).encode("latin-1").hex()
        if "output" in case:
            path = os.path.join(folder, case.get("output-name", "out.bin"))
            if case["output"] == "none":
                if os.path.exists(path):
                    problems.append("an output file was created")
            elif not os.path.exists(path):
                problems.append("no output file")
            else:
                with open(path, "rb") as f:
                    got = f.read()
                expected = bytes_value(case["output"], data_dir)
                if got != expected:
                    first = next((i for i in range(min(len(got), len(expected))) if got[i] != expected[i]),
                                 min(len(got), len(expected)))
                    problems.append(f"output differs: {len(got)} bytes, expected {len(expected)}; "
                                    f"first difference at {first}")
        return problems
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--cases", required=True)
    parser.add_argument("--data", default=None, help="folder of data files (default: beside the cases)")
    parser.add_argument("--wrapper", default="", help="command put before the program; 'valgrind' runs memcheck "
                             "with leak checks on the successful cases")
    parser.add_argument("--no-memory-limit", action="store_true",
                        help="skip the cases that limit memory (sanitizer builds reserve too much for them)")
    args = parser.parse_args()
    data_dir = args.data or os.path.dirname(os.path.abspath(args.cases))
    wrapper = shlex.split(args.wrapper)

    defines, cases = parse_cases(args.cases)
    failed = skipped = 0
    for case in cases:
        if (args.wrapper or args.no_memory_limit) and "limit-memory" in case:
            print(f"skip  {case['name']} (a memory limit does not fit a wrapper)")
            skipped += 1
            continue
        problems = run_case(case, defines, os.path.abspath(args.program), data_dir, wrapper)
        if problems:
            failed += 1
            print(f"FAIL  {case['name']} (line {case['line']})")
            for p in problems:
                print("      " + p)
        else:
            print(f"ok    {case['name']}")
    print(f"{len(cases) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
