#!/usr/bin/env python3
"""Times prg against the floor (cat), DuckDB, Polars and sqlite3 on the generated
workloads and prints median wall time, peak memory and the ratios of prg to each
peer. The tools' runs are interleaved (round 1 of every tool, then round 2, ...), so
that the machine's drift hits them alike. Every peer's result is checked against
prg's (row count and checksum of the sorted rows)."""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def timed(command, cwd):
    """Runs a shell command; returns (wall seconds, peak resident MiB, minor page
    faults, user seconds, system seconds). The shell's own share is negligible."""
    start = time.perf_counter()
    process = subprocess.Popen(command, shell=True, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + command)
    return (wall, usage.ru_maxrss / 1024.0, usage.ru_minflt, usage.ru_utime, usage.ru_stime)


def fresh_memory_cost():
    """Seconds to touch 1 GiB of new memory once a page, the same GiB again, and
    another GiB of new memory in huge pages: what fresh memory costs this machine
    just now, which drifts by hours. Page by page the cost of a fault hides most of
    the drift; a huge page is cleared whole, so the third shows what memory never
    touched since the host took it back costs. Measured in a process of its own, so
    that the tools' peak memory does not inherit the GiB."""
    probe = ("import mmap, time\n"
             "region = mmap.mmap(-1, 1 << 30)\n"
             "for _ in range(2):\n"
             "    start = time.perf_counter()\n"
             "    for offset in range(0, 1 << 30, 4096):\n"
             "        region[offset] = 1\n"
             "    print(time.perf_counter() - start)\n"
             "huge = mmap.mmap(-1, 1 << 30, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)\n"
             "huge.madvise(mmap.MADV_HUGEPAGE)\n"
             "start = time.perf_counter()\n"
             "for offset in range(0, 1 << 30, 1 << 21):\n"
             "    huge[offset] = 1\n"
             "print(time.perf_counter() - start)\n")
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                         check=True).stdout.split()
    return float(out[0]), float(out[1]), float(out[2])


STAGES = ("read", "parse", "index", "join and write")


def stage_times(path):
    """The seconds of each stage that prg --stats wrote to path, by stage name."""
    times = {}
    with open(path) as stats:
        for line in stats:
            if line.startswith("prg: stats: read "):
                for part in line[len("prg: stats: "):].split(";")[0].split(", "):
                    name, seconds, _ = part.rsplit(" ", 2)
                    times[name] = float(seconds)
    return times


def checksum(path, skip_until_result):
    """Row count and checksum of the sorted rows of a result file. The peers write
    CSV, which puts double quotes around a cell with a comma inside; prg writes cells
    as they are, and the generated cells hold no double quote, so dropping them
    compares like with like."""
    if skip_until_result:
        select = "sed -n '/^result(/,$p' '%s' | tail -n +2" % path
    else:
        select = "tr -d '\"' < '%s'" % path
    out = subprocess.run(select + " | LC_ALL=C sort -S 2G | tee >(wc -l >&2) | md5sum",
                         shell=True, executable="/bin/bash", capture_output=True, text=True)
    return int(out.stderr.strip()), out.stdout.split()[0]


def sqlite_script(folder, meta, output):
    lines = [".mode csv"]
    for table in meta["tables"]:
        lines.append(".import '%s/%s.csv' %s" % (folder, table["name"], table["name"]))
    lines += [".mode list", ".separator ,", ".headers off", ".output '%s'" % output]
    columns = ", ".join(meta["result_columns"])
    tables = " NATURAL JOIN ".join(t["name"] for t in meta["tables"])  # sqlite pairs all rows when no column is shared
    lines.append("SELECT %s FROM %s;" % (columns, tables))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--peers", default="floor,duckdb,polars",
                        help="comma-separated, from floor, placed-floor, duckdb, polars, "
                        "sqlite3")
    parser.add_argument("--prg", help="a prg binary to time instead of building one")
    parser.add_argument("--baseline", help="a second prg binary, timed as peer 'base'")
    parser.add_argument("--data", default="/dev/shm/prg-bench",
                        help="where the generated files go (tmpfs keeps the disk out)")
    parser.add_argument("--tidy", action="store_true", help="generate tidy files")
    parser.add_argument("workloads", nargs="*",
                        default=["pk-fk", "pk-fk-id8", "pk-fk-hex16", "pk-fk-uuid", "pk-fk-pair",
                                 "chain", "fan-out", "cross", "composite"])
    args = parser.parse_args()
    peers = [p for p in args.peers.split(",") if p]

    data = os.path.join(args.data, "scale-%g%s" % (args.scale, "-tidy" if args.tidy else ""))
    missing = [w for w in args.workloads
               if not os.path.exists(os.path.join(data, w, "workload.json"))]
    if missing:
        subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "--scale",
                        str(args.scale), "--out", data] + (["--tidy"] if args.tidy else []) +
                       missing, check=True)
    # The tools run in each workload's folder: paths given relative to here are
    # made absolute first.
    prg = os.path.abspath(args.prg) if args.prg else None
    if args.baseline:
        args.baseline = os.path.abspath(args.baseline)
    if prg is None:
        build = os.path.join(ROOT, "build-bench")
        subprocess.run("cmake -S '%s' -B '%s' -G Ninja -DCMAKE_BUILD_TYPE=Release "
                       "-DPRG_TESTS=OFF > /dev/null && cmake --build '%s' > /dev/null" %
                       (ROOT, build, build), shell=True, check=True)
        prg = os.path.join(build, "prg")
    if args.baseline:
        peers.insert(0, "base")
    node_peers = [p for p in ("duckdb", "polars") if p in peers]
    if node_peers and not os.path.isdir(os.path.join(HERE, "node_modules", "nodejs-polars")):
        subprocess.run("npm install --no-audit --no-fund > /dev/null", shell=True, cwd=HERE,
                       check=True)

    first, again, huge = fresh_memory_cost()
    print("fresh memory before: 1 GiB touched first %.2f s, again %.2f s, in huge pages %.2f s"
          % (first, again, huge), flush=True)
    report = ["| workload | input MiB | tool | median s | peak MiB | faults/KiB in | user s "
              "| sys s | CPUs | prg / tool | stages s (read, parse, index, join and write) |",
              "|---|---|---|---|---|---|---|---|---|---|---|"]
    for workload in args.workloads:
        folder = os.path.join(data, workload)
        meta = json.load(open(os.path.join(folder, "workload.json")))
        with open(os.path.join(folder, "sqlite.sql"), "w") as script:
            script.write(sqlite_script(folder, meta, "sqlite.csv"))
        commands = {
            "prg": "'%s' --stats input.txt output.txt 2> prg.stats" % prg,
            "floor": "cat input.txt output.copy > floor.out",
            # As a tool that places its output whole must: beside the old one (the
            # floor's), which stays until the new one is renamed over it.
            "placed-floor": "cat input.txt output.copy > floor.placing && "
                            "mv floor.placing floor.out",
            "base": "'%s' --stats input.txt base.txt 2> base.stats" % args.baseline,
            "duckdb": "node '%s/duckdb_join.mjs' . duckdb.csv" % HERE,
            "polars": "node '%s/polars_join.mjs' . polars.csv" % HERE,
            "sqlite3": "sqlite3 :memory: < sqlite.sql",
        }
        runs = {tool: [] for tool in ["prg"] + peers}
        stages = {"prg": [], "base": []}
        order = list(runs)
        for round_number in range(args.repetitions):
            # Each round starts with another tool: the run right after a
            # memory-heavy one is often slower, and no tool should always be it.
            shift = round_number % len(order)
            for tool in order[shift:] + order[:shift]:
                runs[tool].append(timed(commands[tool], folder))
                if tool in stages:
                    stages[tool].append(stage_times(os.path.join(folder, tool + ".stats")))
                if tool == "prg" and not os.path.exists(os.path.join(folder, "output.copy")):
                    shutil.copyfile(os.path.join(folder, "output.txt"),
                                    os.path.join(folder, "output.copy"))
        results = {tool: (statistics.median(r[0] for r in rs), max(r[1] for r in rs),
                          statistics.median(r[2] for r in rs), statistics.median(r[3] for r in rs),
                          statistics.median(r[4] for r in rs))
                   for tool, rs in runs.items()}
        if "base" in peers and subprocess.run(
                ["cmp", "-s", "output.txt", "base.txt"], cwd=folder).returncode != 0:
            sys.exit("%s: prg's output differs from the baseline's" % workload)
        expected = checksum(os.path.join(folder, "output.txt"), True)
        for tool, path in (("duckdb", "duckdb.csv"), ("polars", "polars.csv"),
                           ("sqlite3", "sqlite.csv")):
            if tool in peers:
                got = checksum(os.path.join(folder, path), False)
                if got != expected:
                    sys.exit("%s: %s gives %s rows/%s, prg %s rows/%s" %
                             (workload, tool, got[0], got[1], expected[0], expected[1]))
        input_mib = os.path.getsize(os.path.join(folder, "input.txt")) / 2**20
        input_kib = input_mib * 1024
        for tool in ["prg"] + peers:
            wall, peak, faults, user, system = results[tool]
            ratio = "" if tool == "prg" else "%.2f" % (results["prg"][0] / wall)
            stage_medians = ", ".join(
                "%.3f" % statistics.median(run.get(name, 0.0) for run in stages[tool])
                for name in STAGES) if stages.get(tool) else ""
            report.append("| %s | %.0f | %s | %.3f | %.0f | %.3f | %.2f | %.2f | %.2f | %s | %s |" %
                          (workload, input_mib, tool, wall, peak, faults / input_kib, user,
                           system, (user + system) / wall, ratio, stage_medians))
        print("\n".join(report[-len(peers) - 1:]), " (%d result rows, checksums agree)" %
              expected[0], flush=True)
        for name in ("output.txt", "output.copy", "floor.out", "floor.placing", "base.txt",
                     "duckdb.csv",
                     "polars.csv", "sqlite.csv", "prg.stats", "base.stats"):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                os.remove(path)
    first, again, huge = fresh_memory_cost()
    print("fresh memory after: 1 GiB touched first %.2f s, again %.2f s, in huge pages %.2f s"
          % (first, again, huge))
    print()
    print("\n".join(report))


if __name__ == "__main__":
    main()
