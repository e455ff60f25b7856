#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs a table of command cases, each in a fresh folder, and compares what
the command did with what the case expects (README.md). Under wine, a
console line ends with CR LF, and what needs POSIX itself is skipped.
    run_cases.py PROGRAM CASES [--wrapper COMMAND | --no-memory-limit | --windows WINE]"""
import ast, os, re, resource, shlex, shutil, signal, subprocess, sys, tempfile


def parse(path):
    logical, defines, cases = [], {}, []
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        if line[0].isspace() and line.strip():
            logical[-1][1] += " " + line.strip()
        elif line.strip() and not line.startswith("#"):
            logical.append([number, line.strip()])
    for number, text in logical:
        if text.startswith("define "):
            defines.update([text.split(" ", 2)[1:]])
            continue
        fields = [f.strip() for f in re.split(r' \|(?=(?:[^"]*"[^"]*")*[^"]*$)', text)]
        cases.append(case := {"line": number, "args": fields[0][4:], "<": [], ">": []})
        for key, _, rest in (f.partition(" ") for f in fields[1:]):
            case[key[0]].append((key[1:], rest)) if key[0] in "<>" else case.update({key: rest})
    return defines, cases


def value(text, defines, data_dir):
    words, out, i = re.findall(r'"(?:[^"\\]|\\.)*"|\S+', text), bytearray(), 0
    while i < len(words):
        w, rest = words[i], words[i + 1:]
        if w.startswith('"'):
            out += ast.literal_eval(w).encode("latin-1")
        elif w == "hex":
            while i + 1 < len(words) and re.fullmatch(r"[0-9a-fA-F]+", words[i + 1]):
                i += 1
                out += bytes.fromhex(words[i])
        elif w == "fill":
            out += bytes([int(rest[0], 16)]) * int(rest[1], 0)
            i += 2
        elif w == "file":
            out += open(os.path.join(data_dir, rest[0]), "rb").read()
            i += 1
        elif w == "poke":  # poke OFFSET BYTES: the bytes so far, changed from OFFSET on
            at, patch = int(rest[0], 0), bytes.fromhex(rest[1])
            out[at:at + len(patch)] = patch
            i += 2
        elif w in defines:
            out += value(defines[w], defines, data_dir)
        elif w != "empty":
            raise ValueError(f"unknown word {w!r} in {text!r}")
        i += 1
    return bytes(out)


def run_case(case, v, program, wrapper, windows):
    folder, problems = tempfile.mkdtemp(prefix="tesslar-case-"), []
    shell = lambda key: subprocess.run(ast.literal_eval(case[key]), shell=True, cwd=folder, capture_output=True).returncode
    try:
        for name, text in case["<"]:
            open(os.path.join(folder, name), "wb").write(v(text))
        status = shell("setup") if "setup" in case else 0
        if status != 0:  # 77: what the case needs is not allowed here
            return None if status == 77 else ["setup failed"]

        def limits():  # a write beyond the limit fails with EFBIG, not a signal
            if "memory" in case:
                resource.setrlimit(resource.RLIMIT_AS, (int(case["memory"]) * 1024,) * 2)
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (int(case.get("fsize", 1 << 28)),) * 2)

        # a case that expects an error expects status 1, unless it says otherwise
        said = b"".join(v(case.get(key, "empty")) for key in ("err", "out", "tail"))
        status = int(case.get("exit", 1 if b"ERROR: " in said else 0))
        if wrapper == ["valgrind"]:  # successful runs must free every block too
            wrapper += ["-q", "--error-exitcode=99"] + (["--leak-check=no"] if status else
                       ["--leak-check=full", "--errors-for-leak-kinds=all"])
        run = subprocess.run(wrapper + [program] + shlex.split(case["args"]), cwd=folder, capture_output=True,
                             input=v(case.get("stdin", "empty")), preexec_fn=limits, timeout=600)
        if run.returncode != status:
            problems.append(f"exit status {run.returncode}, expected {status}")
        out = run.stdout
        for got, key, fits in [(out, "out", bytes.__eq__), (out, "tail", bytes.endswith),
                               (out, "has", bytes.__contains__), (run.stderr, "err", bytes.__eq__)]:
            got, want = got.replace(b"\r\n", b"\n") if windows and key != "err" else got, v(case.get(key, "empty"))
            if (key in case or key == "err") and not fits(got, want):
                problems.append(f"{key}: got {got[-3000:]!r}\n      expected {want[-3000:]!r}")
        for name, text in case[">"]:
            path = os.path.join(folder, name)
            got = open(path, "rb").read() if os.path.lexists(path) else None
            if got != (None if text == "none" else v(text)):
                problems.append(f"{name} holds {got if got is None else got[:300]!r}")
        held = sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)
        if "folder" in case and held != sorted(case["folder"].split()):
            problems.append(f"the folder holds {held}")
        if "check" in case and shell("check") != 0:
            problems.append(f"check failed: {case['check']}")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def main(program, cases_path, *option):
    windows = option[:1] == ("--windows",)
    if windows:  # a wineserver that stays makes each run quick
        os.environ["WINEDEBUG"] = "-all"
        subprocess.run([os.path.join(os.path.dirname(option[1]), "wineserver"), "-p30"])
    defines, cases = parse(cases_path)
    v = lambda text: value(text, defines, os.path.dirname(os.path.abspath(cases_path)))
    failed = skipped = 0
    for case in cases:  # a memory limit does not fit a wrapper or a sanitizer
        problems = None if option and "memory" in case or windows and "posix" in case else \
            run_case(case, v, os.path.abspath(program), list(option[1:2]), windows)
        skipped, failed = skipped + (problems is None), failed + bool(problems)
        print(("skip " if problems is None else "FAIL " if problems else "ok   ") + f"line {case['line']}: {case['args']}")
        for p in problems or []:
            print("      " + p)
    print(f"{len(cases) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
