"""The live check's benchmark, once on a tiny archive, so it cannot rot unseen (no time is
asserted: it must run to the end and print its ratio)."""
import pathlib
import subprocess
import sys
import unittest

BENCH = pathlib.Path(__file__).resolve().parents[1] / "bench" / "live_check_bench.py"


class LiveCheckBenchSmokeTest(unittest.TestCase):
    def test_the_benchmark_runs_on_a_tiny_archive(self):
        done = subprocess.run([sys.executable, str(BENCH), "--mib", "0.25", "--runs", "1"],
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"ratio \(check / curl \+ sha256sum\): \d+\.\d\d")


if __name__ == "__main__":
    unittest.main()
