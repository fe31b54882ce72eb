"""A release server that pauses. Pauses shorter than 30 seconds, before its answer and in the
middle of the archive, are waited out without a retry. A pause longer than that ends the try
after 30 seconds with the time-out error 12002, the next try installs, and the process ends
without waiting for the read it gave up on.

Wine 8 ignores INTERNET_OPTION_RECEIVE_TIMEOUT and INTERNET_OPTION_SEND_TIMEOUT (its WinINet
logs a FIXME and waits indefinitely), so the 30 seconds shown here are the program's own limit;
test_https_download checks that the program still asks WinINet for the 30,000 ms time-outs.
"""
import time
import unittest

import harness
from https_fixture import DEFAULT_MANIFEST, HttpsInstallTest, retry_lines

PAUSE_SECONDS = 20
LONG_STALL_SECONDS = 45
LIMIT_SECONDS = 30
TIMED_OUT = "The request has timed out. (Windows error 12002)"
INSTALLED_TAIL = [
    "Unpacking Vantile\u2026",
    "Installing Vantile\u2026",
    "Vantile 1.4.0 is installed, and it is opening now.",
]


def stamped_log():
    """(seconds, text) of each line of the log."""
    lines = []
    for line in harness.read_log_raw().decode("utf-8").split("\n"):
        match = harness.LOG_LINE.match(line)
        if match:
            lines.append((float(match.group(1)), match.group(2)))
    return lines


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

    def test_a_longer_stall_ends_the_try_after_30_seconds_and_the_next_try_installs(self):
        manifest_size = self.release.manifest.stat().st_size
        # (what stalls, its fault, the line after which it stalls, the try's message)
        cases = [
            ("archive body", self.archive_path, dict(stall_after=self.release.size // 2),
             "Downloading Vantile\u2026", "The download of %s stopped: %s" % (self.url, TIMED_OUT)),
            ("archive answer", self.archive_path, dict(headers_delay=LONG_STALL_SECONDS),
             "Downloading Vantile\u2026", "Could not download %s: %s" % (self.url, TIMED_OUT)),
            ("manifest body", self.manifest_path, dict(stall_after=manifest_size // 2),
             "Manifest: " + DEFAULT_MANIFEST,
             "The download of %s stopped: %s" % (DEFAULT_MANIFEST, TIMED_OUT)),
        ]
        for name, path, fault, before, message in cases:
            with self.subTest(name):
                harness.clear_log()
                first_request = len(self.server.requests)
                self.server.set_fault(path, stall_seconds=LONG_STALL_SECONDS, times=1, **fault)

                code = self.install()
                ended = time.monotonic()

                self.assert_installed(code)
                log = stamped_log()
                texts = [text for _, text in log]
                start = texts.index(before)
                self.assertEqual(texts[start + 1:start + 3], retry_lines(message, 2), texts)
                self.assertEqual(texts[-3:], INSTALLED_TAIL)
                self.assertEqual(texts.count(message), 1)
                waited = log[start + 1][0] - log[start][0]
                self.assertGreaterEqual(waited, LIMIT_SECONDS - 0.5, texts)
                self.assertLess(waited, LIMIT_SECONDS + 4, texts)

                requests = self.server.requests[first_request:]
                self.assertEqual([r.path for r in requests].count(path), 2)
                # The stalled request was still waiting for its server when the process ended.
                stalled = [r for r in requests if r.path == path][0]
                self.assertLess(ended - stalled.time, LONG_STALL_SECONDS - 2)


if __name__ == "__main__":
    unittest.main()
