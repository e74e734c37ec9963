#!/usr/bin/env python3
"""Writes the benchmark workloads: for each, an input file in prg's format and one
CSV file per table (with a header line) for the peer tools, plus workload.json that
names the tables, the join order and the result's columns in prg's order.

By default the input is written the way the format's own examples are: a comma and
a space between cells, a share of text cells quoted with a comma inside
('harbor, island'), and texts with inner spaces. --tidy writes "a,b" instead."""

import argparse
import json
import os
import random

QUOTED_SHARE = 0.15
CELL_SEPARATOR = ", "

WORDS = (
    "alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike "
    "november oscar papa quebec romeo sierra tango uniform victor whiskey xray yankee "
    "zulu amber basalt cobalt dune ember fjord granite harbor island jasper kelp lagoon "
    "meadow nectar orchid pebble quartz river summit timber umber valley willow"
).split()


class Cells:
    def __init__(self, rng):
        self.rng = rng

    def number(self):
        return str(self.rng.randrange(100000))

    def word(self):
        return self.rng.choice(WORDS)

    def text(self):
        target = self.rng.randrange(20, 41)
        words = []
        while len(" ".join(words)) < target:
            words.append(self.rng.choice(WORDS))
        text = " ".join(words)[:target].rstrip()
        if self.rng.random() < QUOTED_SHARE:
            return "'%s, %s'" % (self.rng.choice(WORDS), text)
        return text

    def mixed(self, kind):
        return {"n": self.number, "w": self.word, "t": self.text}[kind]()


def csv_cell(cell):
    return '"%s"' % cell if "," in cell else cell


def write_table(directory, name, columns, rows, prg_file):
    with open(os.path.join(directory, name + ".csv"), "w") as csv:
        csv.write(",".join(columns) + "\n")
        for row in rows:
            csv.write(",".join(csv_cell(cell) for cell in row) + "\n")
    prg_file.write("\n%s(%s)\n" % (name, ", ".join(columns)))
    for row in rows:
        prg_file.write(CELL_SEPARATOR.join(row) + "\n")


def result_columns(tables):
    seen = []
    for _, columns, _ in tables:
        for column in columns:
            if column not in seen:
                seen.append(column)
    return seen


def emit(root, workload, tables):
    directory = os.path.join(root, workload)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "input.txt"), "w") as prg_file:
        prg_file.write("join(%s)\n" % ", ".join(name for name, _, _ in tables))
        for name, columns, rows in tables:
            write_table(directory, name, columns, rows, prg_file)
    meta = {
        "tables": [{"name": name, "columns": columns} for name, columns, _ in tables],
        "result_columns": result_columns(tables),
    }
    with open(os.path.join(directory, "workload.json"), "w") as out:
        json.dump(meta, out, indent=1)


def payload(cells, kinds):
    return [cells.mixed(kind) for kind in kinds]


def pk_fk_on(make_ids):
    """A with distinct ids, B with ids drawn from A's, whatever the kind of id."""
    def workload(cells, scale):
        n = int(1_000_000 * scale)
        ids = make_ids(cells.rng, n)
        cells.rng.shuffle(ids)
        a = [i + payload(cells, "nwt") for i in ids]
        b = [cells.rng.choice(ids) + payload(cells, "nw") for _ in range(n)]
        width = len(ids[0])
        keys = ["id"] if width == 1 else ["id%d" % (k + 1) for k in range(width)]
        return [("A", keys + ["a1", "a2", "a3"], a), ("B", keys + ["b1", "b2"], b)]
    return workload


def short_ids(rng, n):
    """Up to seven digits: a key that fits the index's slot."""
    start = max(0, min(100000, 10_000_000 - n))
    return [[str(start + i)] for i in range(n)]


def eight_digit_ids(rng, n):
    return [[str(i)] for i in rng.sample(range(10_000_000, 100_000_000), n)]


def hex_ids(rng, n):
    seen = set()
    while len(seen) < n:
        seen.add("%016x" % rng.getrandbits(64))
    return [[i] for i in sorted(seen)]


def uuids(rng, n):
    def uuid():
        h = "%032x" % rng.getrandbits(128)
        return "%s-%s-4%s-a%s-%s" % (h[:8], h[8:12], h[13:16], h[17:20], h[20:])
    return [[uuid()] for _ in range(n)]


def string_pairs(rng, n):
    """Two string columns: a customer code and an order number within it."""
    return [["cust-%05d" % (i % 50_000), "ord-%07d" % (i // 50_000)] for i in range(n)]


def chain(cells, scale):
    n = int(200_000 * scale)
    def keys(prefix):
        return ["%s%d" % (prefix, i) for i in range(n)]
    k1, k2, k3 = keys("p"), keys("q"), keys("r")
    pick = cells.rng.choice
    a = [[k] + payload(cells, "wt") for k in k1]
    b = [[pick(k1), k] + payload(cells, "n") for k in k2]
    c = [[pick(k2), k] + payload(cells, "w") for k in k3]
    d = [[pick(k3)] + payload(cells, "nt") for _ in range(n)]
    return [("A", ["k1", "a1", "a2"], a), ("B", ["k1", "k2", "b1"], b),
            ("C", ["k2", "k3", "c1"], c), ("D", ["k3", "d1", "d2"], d)]


def fan_out(cells, scale):
    n = int(100_000 * scale)
    # A hundred rows a key on each side, whatever the scale: ten thousand result
    # rows a key.
    keys = ["g%d" % i for i in range(max(1, int(1000 * scale)))]
    def rows(kinds):
        return [[keys[i % len(keys)]] + payload(cells, kinds) for i in range(n)]
    a, b = rows("nw"), rows("nt")
    cells.rng.shuffle(a)
    cells.rng.shuffle(b)
    return [("A", ["g", "a1", "a2"], a), ("B", ["g", "b1", "b2"], b)]


def cross(cells, scale):
    n = int(3_000 * scale)
    a = [payload(cells, "nw") for _ in range(n)]
    b = [payload(cells, "nt") for _ in range(n)]
    return [("A", ["a1", "a2"], a), ("B", ["b1", "b2"], b)]


def composite(cells, scale):
    n = int(500_000 * scale)
    pairs = [("c%d" % (i % 1000), "s%d" % (i // 1000)) for i in range(n)]
    cells.rng.shuffle(pairs)
    a = [list(p) + payload(cells, "wt") for p in pairs]
    b = [list(cells.rng.choice(pairs)) + payload(cells, "n") for _ in range(n)]
    return [("A", ["k1", "k2", "a1", "a2"], a), ("B", ["k1", "k2", "b1"], b)]


WORKLOADS = {"pk-fk": pk_fk_on(short_ids), "pk-fk-id8": pk_fk_on(eight_digit_ids),
             "pk-fk-hex16": pk_fk_on(hex_ids), "pk-fk-uuid": pk_fk_on(uuids),
             "pk-fk-pair": pk_fk_on(string_pairs), "chain": chain, "fan-out": fan_out, "cross": cross,
             "composite": composite}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--variant", type=int, default=1,
                        help="start value of the random generator")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "data"))
    parser.add_argument("--tidy", action="store_true",
                        help='cells separated by "," alone, none quoted')
    parser.add_argument("workloads", nargs="*", default=list(WORKLOADS))
    args = parser.parse_args()
    if args.tidy:
        global QUOTED_SHARE, CELL_SEPARATOR
        QUOTED_SHARE, CELL_SEPARATOR = 0.0, ","
    for workload in args.workloads:
        cells = Cells(random.Random("%s/%d" % (workload, args.variant)))
        emit(args.out, workload, WORKLOADS[workload](cells, args.scale))
        print("generated", workload)


if __name__ == "__main__":
    main()
