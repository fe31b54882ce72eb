"""A bounded libFuzzer run for CTest: seeds a corpus from the JSON reference vectors, then runs
the fuzzer for a fixed number of inputs with a fixed seed, so every test run fuzzes a little
and a crash, hang or leak fails the suite.

    fuzz_smoke.py FUZZER VECTORS CORPUS_DIR RUNS
"""
import pathlib
import shutil
import subprocess
import sys


def main(fuzzer, vectors, corpus, runs):
    corpus = pathlib.Path(corpus)
    shutil.rmtree(corpus, ignore_errors=True)
    corpus.mkdir(parents=True)
    rows = [line for line in pathlib.Path(vectors).read_text(encoding="utf-8").splitlines()
            if line and not line.startswith("#")]
    for row in rows[1:]:  # the first row names the columns
        name, hex_input = row.split("\t")[:2]
        (corpus / name).write_bytes(bytes.fromhex(hex_input))
    result = subprocess.run([fuzzer, f"-runs={runs}", "-seed=1", "-timeout=10", str(corpus)])
    return result.returncode


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
