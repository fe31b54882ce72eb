"""`vantile-release check` of an archive whose host stalls: the installer's 30 s limit, which
the tool keeps as the product's value, so this test takes that long (label slow)."""
import unittest

from live_check_fixture import DEFAULT_MANIFEST, LiveReleaseTest


class StallTest(LiveReleaseTest):
    def test_a_stalled_archive_ends_with_the_installers_time_out(self):
        self.server.set_fault(self.archive_path, stall_after=40, stall_seconds=45)
        code, lines, _ = self.check(DEFAULT_MANIFEST)
        self.assertEqual(code, 1, lines)
        failure = lines.index("x64: would fail: The download of %s stopped: The operation timed "
                              "out (Windows error 12002)" % self.release.url)
        self.assertEqual(lines[failure + 1],
                         "x64: the release host sent nothing for 30 s after 40 bytes of the body")


if __name__ == "__main__":
    unittest.main()
