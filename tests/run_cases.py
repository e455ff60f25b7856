#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs a table of command cases, each in a fresh folder, and compares what
the command did with what the case expects. The format: README.md."""
import ast, os, random, re, resource, shlex, shutil, signal, subprocess, sys, tempfile


def parse(path):
    defines, cases, last = [], [], None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        if line[0].isspace():
            last[1] += " " + line.strip()
        elif line.startswith("case "):
            cases.append({"name": line[5:], "line": number, "keys": []})
        else:
            define = line.startswith("define ")
            key, _, text = line[7:].partition(" ") if define else line.partition(":")
            last = [key.strip(), text.strip()]
            (defines if define else cases[-1]["keys"]).append(last)
    for case in cases:
        case.update(dict(case["keys"]))
    return dict(defines), cases


def value(text, defines, data_dir):
    words, out, i = re.findall(r'"(?:[^"\\]|\\.)*"|\S+', text), bytearray(), 0
    while i < len(words):
        w = words[i]
        if w.startswith('"'):
            out += ast.literal_eval(w).encode("latin-1")
        elif w == "hex":
            while i + 1 < len(words) and all(c in "0123456789abcdefABCDEF" for c in words[i + 1]):
                i += 1
                out += bytes.fromhex(words[i])
        elif w == "fill":
            out += bytes([int(words[i + 1], 16)]) * int(words[i + 2], 0)
            i += 2
        elif w == "random":
            rng = random.Random(int(words[i + 1]))
            out += bytes(rng.randrange(256) for _ in range(int(words[i + 2], 0)))
            i += 2
        elif w == "file":
            out += open(os.path.join(data_dir, words[i + 1]), "rb").read()
            i += 1
        elif w in defines:
            out += value(defines[w], defines, data_dir)
        elif w != "empty":
            raise ValueError(f"unknown word {w!r} in {text!r}")
        i += 1
    return bytes(out)


def run_case(case, defines, program, data_dir, wrapper):
    folder = tempfile.mkdtemp(prefix="tesslar-case-")
    problems = []
    try:
        for name, text in [(k.split()[1], t) for k, t in case["keys"] if k.startswith("file ")]:
            open(os.path.join(folder, name), "wb").write(value(text, defines, data_dir))
        if "setup" in case:
            done = subprocess.run(case["setup"], shell=True, cwd=folder, capture_output=True, text=True)
            if done.returncode != 0:
                return None if done.returncode == 77 else [f"setup failed: {done.stdout}{done.stderr}"]

        def limits():
            if "limit-memory" in case:
                size = int(case["limit-memory"]) * 1024
                resource.setrlimit(resource.RLIMIT_AS, (size, size))
            # A write beyond the limit fails with EFBIG, not a signal. Without
            # a limit of its own a case may write 256 MiB: a broken command
            # does not fill the disk.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            size = int(case.get("limit-file-size", 1 << 28))
            resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))

        status = int(case.get("status", "0"))
        if wrapper == ["valgrind"]:  # successful runs must free every block too
            wrapper = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=all",
                       "--errors-for-leak-kinds=" + ("all" if status == 0 else "none")]
        run = subprocess.run(wrapper + [program] + shlex.split(case.get("args", "")), cwd=folder,
                             capture_output=True, preexec_fn=limits, timeout=600)
        if run.returncode != status:
            problems.append(f"exit status {run.returncode}, expected {status}; stderr: {run.stderr[:2000]!r}")
        if "stdout" in case and run.stdout != value(case["stdout"], defines, data_dir):
            problems.append(f"stdout differs\n  got:      {run.stdout[:4000]!r}\n"
                            f"  expected: {value(case['stdout'], defines, data_dir)[:4000]!r}")
        for name, text in [(k.split()[1], t) for k, t in case["keys"] if k.startswith("expect ")]:
            path = os.path.join(folder, name)
            got = open(path, "rb").read() if os.path.lexists(path) else None
            want = None if text == "none" else value(text, defines, data_dir)
            if got != want:
                at = next((i for i, (a, b) in enumerate(zip(got or b"", want or b"")) if a != b), None)
                problems.append(f"{name}: {'none' if got is None else len(got)} bytes, expected "
                                f"{'none' if want is None else len(want)}; first difference at {at}")
        held = sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)
        if "folder" in case and held != sorted(case["folder"].split()):
            problems.append(f"the folder holds {held}")
        if "check" in case:
            done = subprocess.run(case["check"], shell=True, cwd=folder, capture_output=True, text=True)
            if done.returncode != 0:
                problems.append(f"check failed: {case['check']}\n{done.stdout}{done.stderr}")
    finally:
        for mount in [m.split()[1] for m in open("/proc/mounts") if m.split()[1].startswith(folder + "/")]:
            subprocess.run(["umount", "-l", mount])
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def main():
    """run_cases.py PROGRAM CASES [--wrapper COMMAND | --no-memory-limit]; valgrind as
    the wrapper checks for leaks too, and the sanitizers' builds skip the memory limits."""
    program, cases_path, option = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3:]
    wrapper = shlex.split(option[1]) if option[:1] == ["--wrapper"] else []
    defines, cases = parse(cases_path)
    failed = skipped = 0
    for case in cases:
        problems = ["skip"] if option and "limit-memory" in case else \
            run_case(case, defines, program, os.path.dirname(os.path.abspath(cases_path)), wrapper)
        if problems in (None, ["skip"]):
            print(f"skip  {case['name']}: " + ("its setup is not allowed here" if problems is None else
                                                "a memory limit does not fit a wrapper or a sanitizer"))
            skipped += 1
            continue
        failed += bool(problems)
        print(("FAIL  " if problems else "ok    ") + f"{case['name']} (line {case['line']})")
        for p in problems:
            print("      " + p)
    print(f"{len(cases) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
