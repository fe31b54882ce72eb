"""A release server that pauses: before its answer and in the middle of the archive, each
time for less than the 30-second receive time-out. The installer waits it out and installs,
without a retry.

Wine 8 ignores INTERNET_OPTION_RECEIVE_TIMEOUT and INTERNET_OPTION_SEND_TIMEOUT (its WinINet
logs a FIXME and waits indefinitely), so a pause longer than 30 seconds cannot be shown to
end in WinINet's time-out error here; test_https_download checks that the program asks for
the 30,000 ms time-outs.
"""
import time
import unittest

import harness
from https_fixture import HttpsInstallTest

PAUSE_SECONDS = 20


class HttpsStallTest(HttpsInstallTest):
    def test_pauses_shorter_than_the_time_out_are_waited_out(self):
        self.server.set_fault(self.manifest_path, headers_delay=PAUSE_SECONDS)
        self.server.set_fault(self.archive_path, stall_after=self.release.size // 2,
                              stall_seconds=PAUSE_SECONDS)
        started = time.monotonic()

        code = self.install()

        self.assert_installed(code)
        self.assertGreaterEqual(time.monotonic() - started, 2 * PAUSE_SECONDS)
        self.assertFalse(any(line.startswith("Connection interrupted") for line in harness.read_log()))
        self.assertEqual([r.path for r in self.server.requests],
                         [self.manifest_path, self.archive_path])


if __name__ == "__main__":
    unittest.main()
