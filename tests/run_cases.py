#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs a table of command cases, each in a fresh folder, and compares what
the command did with what the case expects. The format: README.md.
    run_cases.py PROGRAM CASES [--wrapper COMMAND | --no-memory-limit]"""
import ast, os, random, re, resource, shlex, shutil, signal, subprocess, sys, tempfile

WORDS = re.compile(r'"(?:[^"\\]|\\.)*"|\S+')


def parse(path):
    defines, cases, pending = {}, [], ["", 0]

    def flush(text, start):
        if text.startswith("define "):
            name, _, words = text[7:].partition(" ")
            defines[name] = words
        elif text:  # "run ARGS | KEY VALUE | ...", the fields split at bars outside quotes
            fields = [f.strip() for f in re.split(r' \|(?=(?:[^"]*"[^"]*")*[^"]*$)', text)]
            case = {"line": start, "args": fields[0][4:], "files": [], "expect": []}
            for key, _, rest in (f.partition(" ") for f in fields[1:]):
                if key[0] in "<>":
                    case["files" if key[0] == "<" else "expect"].append((key[1:], rest))
                else:
                    case[key] = rest
            cases.append(case)

    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        if line[:1].isspace() and line.strip() and pending[0]:
            pending[0] += " " + line.strip()
            continue
        flush(*pending)
        pending = ["", number] if not line.strip() or line.startswith("#") else [line.strip(), number]
    flush(*pending)
    return defines, cases


def value(text, defines, data_dir):
    words, out, i = WORDS.findall(text), bytearray(), 0
    while i < len(words):
        w, rest = words[i], words[i + 1:]
        if w.startswith('"'):
            out += ast.literal_eval(w).encode("latin-1")
        elif w == "hex":
            while i + 1 < len(words) and re.fullmatch(r"[0-9a-fA-F]+", words[i + 1]):
                i += 1
                out += bytes.fromhex(words[i])
        elif w in ("fill", "random"):
            n = int(rest[1], 0)
            r = random.Random(int(rest[0], 16))
            out += bytes([int(rest[0], 16)]) * n if w == "fill" else r.randbytes(n)
            i += 2
        elif w == "file":
            out += open(os.path.join(data_dir, rest[0]), "rb").read()
            i += 1
        elif w in defines:
            out += value(defines[w], defines, data_dir)
        elif w != "empty":
            raise ValueError(f"unknown word {w!r} in {text!r}")
        i += 1
    return bytes(out)


def run_case(case, defines, program, data_dir, wrapper):
    folder = tempfile.mkdtemp(prefix="tesslar-case-")
    v = lambda text: value(text, defines, data_dir)
    problems = []
    try:
        for name, text in case["files"]:
            open(os.path.join(folder, name), "wb").write(v(text))
        if "setup" in case:
            done = subprocess.run(ast.literal_eval(case["setup"]), shell=True, cwd=folder, capture_output=True)
            if done.returncode != 0:
                return None if done.returncode == 77 else [f"setup failed: {done.stdout + done.stderr}"]

        def limits():
            if "memory" in case:
                size = int(case["memory"]) * 1024
                resource.setrlimit(resource.RLIMIT_AS, (size, size))
            # A write beyond the limit fails with EFBIG, not a signal; a broken
            # command writes no more than 256 MiB a file.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            size = int(case.get("fsize", 1 << 28))
            resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))

        status = int(case.get("exit", "0"))
        if wrapper == ["valgrind"]:  # successful runs must free every block too
            wrapper = ["valgrind", "-q", "--error-exitcode=99"] + (["--leak-check=no"] if status else
                       ["--leak-check=full", "--show-leak-kinds=all", "--errors-for-leak-kinds=all"])
        run = subprocess.run(wrapper + [program] + shlex.split(case["args"]), cwd=folder, capture_output=True,
                             preexec_fn=limits, timeout=600)
        if run.returncode != status:
            problems.append(f"exit status {run.returncode}, expected {status}")
        want_err = v(case.get("err", "empty"))
        for what, got, want, whole in [("stdout", run.stdout, v(case.get("out", "")), "out" in case),
                                       ("stdout", run.stdout, v(case.get("tail", "")), False),
                                       ("stdout", run.stdout, v(case.get("has", "")), None),
                                       ("stderr", run.stderr, want_err, True)]:
            if got != want if whole else want not in got if whole is None else not got.endswith(want):
                problems.append(f"{what} differs\n  got:      {got[-3000:]!r}\n  expected: {want[-3000:]!r}")
        for name, text in case["expect"]:
            path = os.path.join(folder, name)
            got = open(path, "rb").read() if os.path.lexists(path) else None
            want = None if text == "none" else v(text)
            if got != want:
                problems.append(f"{name}: {got[:200] if got else got!r}..., expected {want[:200] if want else want!r}")
        held = sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)
        if "folder" in case and held != sorted(case["folder"].split()):
            problems.append(f"the folder holds {held}")
        if "check" in case:
            done = subprocess.run(ast.literal_eval(case["check"]), shell=True, cwd=folder, capture_output=True)
            if done.returncode != 0:
                problems.append(f"check failed: {case['check']}\n{done.stdout + done.stderr}")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def main():
    program, cases_path, option = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3:]
    wrapper = shlex.split(option[1]) if option[:1] == ["--wrapper"] else []
    defines, cases = parse(cases_path)
    failed = skipped = 0
    for case in cases:
        # a memory limit does not fit a wrapper or a sanitizer
        problems = None if option and "memory" in case else \
            run_case(case, defines, program, os.path.dirname(os.path.abspath(cases_path)), wrapper)
        skipped += problems is None
        failed += bool(problems)
        print(("skip  " if problems is None else "FAIL  " if problems else "ok    ") + f"line {case['line']}: "
              + case["args"])
        for p in problems or []:
            print("      " + p)
    print(f"{len(cases) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
