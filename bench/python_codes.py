#!/usr/bin/env python3
"""The Python binding's record loop: 10,000 records read one by one with
Query.code(i) (ten queries of 1000, the most one query holds), and the same
records taken with codes(), one copy per query. Target: the loop of 10,000
under 0.1 s.

    bench/python_codes.py OUTPUT [LIBRARY]

The package is staged from this tree (bindings/python/make_packages.py);
the library is LIBRARY, else DVKC_LIBRARY. Writes one line per measure to
OUTPUT and to standard output.
"""
import importlib.util
import os
import sys
import tempfile
import time
from pathlib import Path

TREE = Path(__file__).resolve().parents[1]
QUERIES, RECORDS = 10, 1000
ROUNDS = 1 if os.environ.get("DVKC_BENCH_QUICK") else 5


def staged_package(folder):
    loader_plan = importlib.util.spec_from_file_location("make_packages", TREE / "bindings" / "python" / "make_packages.py")
    make_packages = importlib.util.module_from_spec(loader_plan)
    loader_plan.loader.exec_module(make_packages)
    make_packages.stage(folder, TREE / "include" / "dvkc.h", make_packages.project_version())
    sys.path.insert(0, str(folder))
    import dvkc

    return dvkc


def best_of(rounds, work):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().splitlines()[-6], file=sys.stderr)
        return 2
    if len(argv) == 3:
        os.environ["DVKC_LIBRARY"] = str(Path(argv[2]).resolve())
    with tempfile.TemporaryDirectory(prefix="dvkc-bench-") as work:
        dvkc = staged_package(Path(work) / "package")
        identity = Path(work) / "identity.bin"
        identity.write_bytes(b"benchmark identity\n")
        queries = []
        for n in range(QUERIES):
            q = dvkc.Query((f"SN-{n}-{i}", f"S{i}") for i in range(RECORDS))
            q.build(n, identity)
            queries.append(q)

        def one_by_one():
            for q in queries:
                for i in range(len(q)):
                    q.code(i)

        def whole_tables():
            for q in queries:
                q.codes()

        lines = [
            f"python code(i), {QUERIES * RECORDS} records one by one: {best_of(ROUNDS, one_by_one):.4f} s "
            "(target under 0.1 s)",
            f"python codes(), {QUERIES} tables of {RECORDS}: {best_of(ROUNDS, whole_tables):.4f} s",
        ]
    Path(argv[1]).write_text("\n".join(lines) + "\n", encoding="utf-8")
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
