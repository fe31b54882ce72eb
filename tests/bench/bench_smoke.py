#!/usr/bin/env python3
"""Runs every benchmark once on tiny sizes, so that none of them can rot unseen. No time is
asserted: a benchmark passes when it runs to its end and prints its figures.

    bench_smoke.py native BUILD_DIR    the benchmark programs of a native build
    bench_smoke.py wine                the benchmarks under Wine, with the mingw build's test
                                       environment (VANTILE_BUILD_DIR, VANTILE_SOURCE_DIR),
                                       under scripts/with-test-ca.sh
"""
import os
import pathlib
import subprocess
import sys

BENCH = pathlib.Path(__file__).resolve().parent
SOURCE = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", BENCH.parents[1]))
MINGW_BUILD = pathlib.Path(os.environ.get("VANTILE_BUILD_DIR", SOURCE / "build" / "mingw"))
# The hashing benchmark's native side: the native preset's build, which scripts/test.sh makes
# before the Windows one.
NATIVE_BUILD = SOURCE / "build" / "native"

# Google Benchmark's shortest useful run, in seconds (Debian's 1.7 takes a plain number).
TINY_RUN = "--benchmark_min_time=0.01"

# Each benchmark with the arguments and environment for a tiny run, and a line its output must
# hold: the native ones are programs of the native build, the Wine ones scripts beside this one.
RUNS = {
    "native": [
        (["json_reader_bench", "--document-bytes=4096", TINY_RUN], {},
         "ratio vantile/nlohmann: "),
        # Not a whole number of hashing buffers, so the last feed is a short one.
        (["sha256_bench", "--input-bytes=100000", TINY_RUN], {}, "ratio streaming/openssl: "),
    ],
    "wine": [
        # Prints its times only after every pass's digests agreed with openssl's. First, so that
        # after `wineserver -k` it is the one that starts Wine, whose processes outlive it.
        (["sha256_file_bench.sh", str(NATIVE_BUILD), str(MINGW_BUILD)],
         {"SHA256_BENCH_MIB": "1", "SHA256_BENCH_PASSES": "1"}, "Windows sha256_of_file, Wine "),
        (["download_memory.py", "--sizes-mib", "1,2"], {}, "difference: "),
        (["download_throughput.py", "--size-mib", "2", "--repeat", "1", "--pairs", "2"], {},
         "pairs' throughput ratios: "),
    ],
}


def command(arguments, native_build):
    name, rest = arguments[0], arguments[1:]
    if native_build is not None:
        return [str(native_build / name), *rest]
    runner = [sys.executable] if name.endswith(".py") else ["bash"]
    return [*runner, str(BENCH / name), *rest]


def main(argv):
    if argv[1:2] == ["native"] and len(argv) == 3:
        kind, native_build = "native", pathlib.Path(argv[2])
    elif argv[1:] == ["wine"]:
        kind, native_build = "wine", None
    else:
        print(__doc__)
        return 2
    failed = 0
    for arguments, environment, expected in RUNS[kind]:
        result = subprocess.run(command(arguments, native_build),
                                env={**os.environ, **environment}, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=1200)
        output = result.stdout.decode("utf-8", "replace")
        settings = "".join("%s=%s " % pair for pair in environment.items())
        print("$ " + settings + " ".join(arguments) + "\n" + output)
        if result.returncode != 0 or expected not in output:
            print("%s failed (exit %d, or no line with %r)" % (arguments[0], result.returncode,
                                                              expected))
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
