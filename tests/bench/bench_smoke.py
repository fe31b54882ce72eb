#!/usr/bin/env python3
"""Runs every download benchmark once on tiny sizes, so that none of them can rot unseen. No
time is asserted: a benchmark passes when it runs to its end and prints its figures.

    scripts/with-test-ca.sh /usr/bin/python3 tests/bench/bench_smoke.py
"""
import pathlib
import subprocess
import sys

BENCH = pathlib.Path(__file__).resolve().parent

# Each benchmark with the arguments for a tiny run, and a line its output must hold.
RUNS = [
    (["download_memory.py", "--sizes-mib", "1,2"], "difference: "),
    (["download_throughput.py", "--size-mib", "2", "--repeat", "1", "--pairs", "2"],
     "pairs' throughput ratios: "),
]


def main():
    failed = 0
    for arguments, expected in RUNS:
        command = [sys.executable, str(BENCH / arguments[0]), *arguments[1:]]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                timeout=1200)
        output = result.stdout.decode("utf-8", "replace")
        print("$ " + " ".join(arguments) + "\n" + output)
        if result.returncode != 0 or expected not in output:
            print("%s failed (exit %d, or no line with %r)" % (arguments[0], result.returncode,
                                                              expected))
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
