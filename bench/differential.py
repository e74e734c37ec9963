#!/usr/bin/env python3
"""Runs two builds of prg side by side on the same inputs and compares what each
leaves: standard output, standard error, exit status and every file in the folder.

    python3 bench/differential.py OLD_PRG NEW_PRG [--random 1000] [--variant 1]

The inputs are the shipped examples, the fuzz corpus and its regressions, and
random files in the format's own style (", " between cells, quoted cells, inner
spaces, short and long keys, wrong rows, missing tables and blank lines). Each runs
as `prg in.txt out.txt`, with `--result csv`, with `-q` and as `--csv exp in.txt`.
Changes made on purpose are listed in INTENDED, applied to the old build's
console, and ADDED, the lines only the new build says, left out of its console,
before the comparison; the summary counts both kinds. --together sends
standard error into standard output's pipe, to compare the order of the lines too.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

# What the new build says differently on purpose: hints name the file they concern.
INTENDED = [
    (re.compile(rb"prg: hint: the refused line is line (\d+) of the file\n"),
     rb"prg: hint: in.txt:\1: the refused line\n"),
    (re.compile(rb"prg: hint: line (\d+) reads as a row of"), rb"prg: hint: in.txt:\1: reads as a row of"),
]

# Lines only the new build says: hints that lead to the fix.
ADDED = re.compile(rb"prg: hint: (did you mean |the column .* differ by \d edits?: did you mean |"
                   rb"the line holds tabs|the descriptors hold tabs|a comma at the end of a line|"
                   rb"prg --help shows).*\n")

ARGUMENTS = [["in.txt", "out.txt"], ["--result", "csv", "in.txt", "out.txt"],
             ["-q", "in.txt", "out.txt"], ["--csv", "exp", "in.txt"]]


def random_input(rng):
    keys = ["id", "k", "name", "code", "uuid", "x", "ID"]
    tables = []
    for t in range(rng.randint(1, 4)):
        width = rng.randint(1, 4)
        columns = rng.sample(keys, width)
        descriptor = ", ".join(c + rng.choice(["", " int", " text"]) for c in columns)
        rows = []
        for _ in range(rng.randint(0, 12)):
            cells = [random_cell(rng) for _ in range(width)]
            if rng.random() < 0.004:
                cells.append("extra")
            rows.append(", ".join(cells) + ("," if rng.random() < 0.02 else rng.choice(["", " "])))
        tables.append((f"T{t}", descriptor, rows))
    names = [name for name, _, _ in tables]
    header = rng.sample(names, rng.randint(1, len(names))) * rng.choice([1, 1, 2])
    if rng.random() < 0.05:
        header.append("missing")
    if rng.random() < 0.03:
        header = []
    end = "\r\n" if rng.random() < 0.1 else "\n"
    text = "join(" + ", ".join(header) + ")" + end
    for name, descriptor, rows in tables:
        text += (end if rng.random() > 0.05 else "") + f"{name}({descriptor})" + end
        text += "".join(row + end for row in rows)
    if rng.random() < 0.03:
        text = text.replace("(", "", 2)
    return text.encode()


def random_cell(rng):
    kind = rng.random()
    if kind < 0.4:
        return str(rng.randint(0, 9))
    if kind < 0.6:
        return str(rng.randint(0, 10 ** rng.randint(1, 12)))
    if kind < 0.7:
        return "'%s, %s'" % (rng.choice("abc"), rng.choice("xyz"))
    if kind < 0.75:
        return "it\\'s"
    if kind < 0.85:
        return "%08x-%04x" % (rng.getrandbits(32), rng.getrandbits(16))
    if kind < 0.9:
        return ""
    return rng.choice(["a b", " spaced ", "x\ty", '"q"', "caf\u00e9"])


def run(program, arguments, data, together=False):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "in.txt"), "wb") as file:
            file.write(data)
        done = subprocess.run([program] + arguments, cwd=folder, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT if together else subprocess.PIPE, timeout=60)
        files = {}
        for root, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as file:
                    files[os.path.relpath(path, folder)] = file.read()
        return done.stdout, done.stderr, done.returncode, files


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--random", type=int, default=1000)
    parser.add_argument("--variant", type=int, default=1,
                        help="which set of random inputs: each number gives its own")
    parser.add_argument("--together", action="store_true",
                        help="standard error into the same pipe as standard output")
    options = parser.parse_args()
    options.old, options.new = os.path.abspath(options.old), os.path.abspath(options.new)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    inputs = []
    for folder in ["examples", "fuzz/corpus/run", "fuzz/regressions"]:
        path = os.path.join(root, folder)
        for name in sorted(os.listdir(path)) if os.path.isdir(path) else []:
            if folder != "examples" or name.startswith("input"):
                with open(os.path.join(path, name), "rb") as file:
                    inputs.append((folder + "/" + name, file.read()))
    rng = random.Random(options.variant)
    inputs += [(f"random {i}", random_input(rng)) for i in range(options.random)]
    same = intended = 0
    differing = []
    for what, data in inputs:
        for arguments in ARGUMENTS:
            old = run(options.old, arguments, data, options.together)
            new = run(options.new, arguments, data, options.together)
            if old == new:
                same += 1
                continue
            said = list(old[:2])
            for pattern, replacement in INTENDED:
                said = [pattern.sub(replacement, text) if text else text for text in said]
            added = [ADDED.sub(b"", text) if text else text for text in new[:2]]
            if (said[0], said[1], old[2], old[3]) == (added[0], added[1], new[2], new[3]):
                intended += 1
            else:
                differing.append((what, arguments, old, new))
    total = same + intended + len(differing)
    print(f"{len(inputs)} inputs x {len(ARGUMENTS)} command lines = {total} runs of each build")
    print(f"  identical console, status and files: {same}")
    print(f"  identical but for the intended hint changes and the added hints: {intended}")
    print(f"  differing: {len(differing)}")
    for what, arguments, old, new in differing[:10]:
        print(f"--- {what}: prg {' '.join(arguments)}")
        for name, a, b in zip(["stdout", "stderr", "status", "files"], old, new):
            if a != b:
                print(f"  {name}: old {a!r:.300}\n  {name}: new {b!r:.300}")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
