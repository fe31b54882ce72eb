"""The window's Win32 unit tests (tests/windows/installer_window_test.cpp and
window_sink_test.cpp) need a display to create windows; the plain unit-test run has none and
skips them. This runs them again under an X server of its own and insists that none skipped."""
import re
import unittest

import harness
import window_support as ws

TESTS = harness.BUILD_DIR / "vantile_windows_tests.exe"
SUITES = ["InstallerWindowTest", "InstallerWindowDpi", "InstallerWindowFonts", "WindowSinkTest",
          "SharedLog"]
FILTER = ":".join(suite + ".*" for suite in SUITES)


class WindowUnitTestsUnderADisplay(unittest.TestCase):
    def test_window_unit_tests_run_and_pass(self):
        display = ws.VirtualDisplay().start()
        try:
            ws.set_unmanaged_windows(display.env, True)
            result = harness.run_program(TESTS, ["--gtest_filter=" + FILTER, "--gtest_brief=0"],
                                         env=display.env, timeout=300)
        finally:
            ws.set_unmanaged_windows(display.env, False)
            display.stop()
        output = result.stdout.decode("utf-8", errors="replace")
        self.assertEqual(result.returncode, 0, output[-4000:])
        # Each suite ran to its end, and no test in it was skipped for want of a window.
        finished = set(re.findall(r"^\[----------\] \d+ tests? from (\w+) \(\d+ ms total\)",
                                  output, re.MULTILINE))
        for suite in SUITES:
            self.assertIn(suite, finished, output[-4000:])
        self.assertNotIn("[  SKIPPED ]", output)


if __name__ == "__main__":
    unittest.main()
