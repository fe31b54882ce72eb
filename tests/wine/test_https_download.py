"""Downloading the build over https: HTTP statuses, bodies that end early, run long or are
reset, sizes of 0 and below, and the exact WinINet calls the program makes."""
import re
import unittest

import harness
from https_fixture import (STEP_DOWNLOAD, USER_AGENT, HttpsInstallTest, failed_lines,
                           retry_lines, size_message)

TRANSFER_BUFFER_SIZE = 65536
# Wine's own text for ERROR_INTERNET_CONNECTION_ABORTED.
CONNECTION_ABORTED = "The connection with the server has been terminated. (Windows error 12030)"


class HttpsDownloadTest(HttpsInstallTest):
    def download_log(self):
        """The log lines after "Downloading Vantile…"."""
        lines = harness.read_log()
        return lines[lines.index("Downloading Vantile\u2026") + 1:]

    def archive_requests(self, before=0):
        return [r for r in self.server.requests[before:] if r.path == self.archive_path]

    def test_error_status_is_tried_three_times_and_names_the_address(self):
        cases = [
            (dict(status=404), 404),
            (dict(status=302, location=self.server.cdn_url("elsewhere.zip")), 302),
            (dict(status=500), 500),
        ]
        for fault, status in cases:
            with self.subTest(status=status):
                harness.clear_log()
                self.server.set_fault(self.archive_path, **fault)
                before = len(self.server.requests)

                code = self.install()

                message = "%s answered HTTP %d, not the file." % (self.url, status)
                self.assertEqual(code, 1)
                self.assertEqual(self.download_log(), [
                    *retry_lines(message, 2),
                    *retry_lines(message, 3),
                    *failed_lines(STEP_DOWNLOAD, message),
                ])
                self.assertEqual(len(self.archive_requests(before)), 3)
                self.assertEqual(self.server.redirects_followed, [])
                self.assertFalse(any(r.path.endswith("elsewhere.zip") for r in self.server.requests))
                self.assert_nothing_installed()

    def test_body_closed_cleanly_halfway_is_retried_then_fails_on_its_size(self):
        half = self.release.size // 2
        self.server.set_fault(self.archive_path, cut_after=half)

        code = self.install()

        short = "The download stopped at %d of %d bytes." % (half, self.release.size)
        self.assertEqual(code, 1)
        self.assertEqual(self.download_log(), [
            *retry_lines(short, 2),
            *retry_lines(short, 3),
            *failed_lines(STEP_DOWNLOAD, size_message(self.url, half, self.release.size)),
        ])
        self.assertEqual(len(self.archive_requests()), 3)
        self.assert_nothing_installed()

    def test_each_try_starts_from_an_empty_file(self):
        # The first try ends short; had its bytes stayed in the file, the second try's full
        # body would fail the checksum.
        half = self.release.size // 2
        self.server.set_fault(self.archive_path, cut_after=half, times=1)

        code = self.install()

        self.assert_installed(code)
        short = "The download stopped at %d of %d bytes." % (half, self.release.size)
        self.assertEqual(self.download_log(), [
            *retry_lines(short, 2),
            "Unpacking Vantile\u2026",
            "Installing Vantile\u2026",
            "Vantile 1.4.0 is installed, and it is opening now.",
        ])
        self.assertEqual(len(self.archive_requests()), 2)

    def test_longer_body_stops_at_the_chunk_that_passes_the_size_without_retry(self):
        self.server.set_fault(self.archive_path, append=4 * TRANSFER_BUFFER_SIZE)

        code = self.install()

        self.assertEqual(code, 1)
        lines = self.download_log()
        self.assertEqual(lines[0], failed_lines(STEP_DOWNLOAD, "")[0], lines)
        self.assertEqual(len(lines), 2, lines)
        match = re.fullmatch(re.escape(self.url) + r" is (\d+) bytes, but the manifest says "
                             + str(self.release.size) + r": the download is incomplete, or is "
                             r"not the published file\.", lines[1])
        self.assertIsNotNone(match, lines[1])
        total = int(match.group(1))
        # The running total when the transfer stopped: past the size by at most one chunk,
        # and well short of the whole body.
        self.assertGreater(total, self.release.size)
        self.assertLessEqual(total, self.release.size + TRANSFER_BUFFER_SIZE)
        self.assertEqual(len(self.archive_requests()), 1)
        self.assert_nothing_installed()

    def test_reset_mid_body_gives_the_wininet_error_on_each_try(self):
        self.server.set_fault(self.archive_path, reset_after=self.release.size // 2)

        code = self.install()

        message = "The download of %s stopped: %s" % (self.url, CONNECTION_ABORTED)
        self.assertEqual(code, 1)
        self.assertEqual(self.download_log(), [
            *retry_lines(message, 2),
            *retry_lines(message, 3),
            *failed_lines(STEP_DOWNLOAD, message),
        ])
        self.assertEqual(len(self.archive_requests()), 3)
        self.assert_nothing_installed()

    def test_wininet_calls_are_exactly_the_documented_ones(self):
        # Wine's WinINet trace shows each call with its arguments, in order.
        result = harness.run_program(
            harness.EXE, ["--quiet"], timeout=300,
            env={"http_proxy": self.server.proxy_url, "https_proxy": self.server.proxy_url,
                 "VANTILE_TEST_RECORD": harness.windows_path(self.record),
                 "WINEDEBUG": "trace+wininet"})
        self.assertEqual(result.returncode, 0)
        calls = wininet_calls(result.stderr.decode("utf-8", "replace"))

        def one_fetch(address):
            return [
                ("InternetOpenW", '"%s", 0, (null), (null), 0' % USER_AGENT),
                ("InternetSetOptionW", "root", "2", "4"),
                ("InternetSetOptionW", "root", "6", "4"),
                ("ignored by Wine", "30000"),
                ("InternetSetOptionW", "root", "5", "4"),
                ("ignored by Wine", "30000"),
                # INTERNET_OPTION_HTTP_DECODING, TRUE: a compressed answer arrives decoded.
                ("InternetSetOptionW", "root", "65", "4"),
                # The context is the request's own record of the answer's evidence: never zero,
                # since WinINet makes no status callbacks for a zero context.
                ("InternetOpenUrlW", "root", '"%s", (null), 00000000, 84a80300, <context>' % address),
                ("HttpQueryInfoW", "request", "0x20000013"),
                ("InternetCloseHandle", "request"),
                ("InternetCloseHandle", "root"),
            ]

        self.assertEqual(calls, one_fetch(self.server.manifest_url) + one_fetch(self.url))


def wininet_calls(trace):
    """The program's WinINet calls from a trace+wininet log, handles named by their role."""
    names = {}
    calls = []
    for line in trace.splitlines():
        found = re.search(r":wininet:(\w+) (.*)$", line)
        if not found:
            continue
        function, rest = found.groups()
        if function == "InternetOpenW" and rest.startswith("(L"):
            calls.append((function, rest[2:-1]))
        elif function == "InternetSetOptionW" and rest.startswith("("):
            handle, option, _, size = rest.strip("()").split()
            names[handle] = "root"
            calls.append((function, "root", option, size))
        elif function == "InternetSetOptionW" and "TIMEOUT" in rest:
            # Wine does not apply the receive and send time-outs; it says so, with the value.
            calls.append(("ignored by Wine", rest.split()[-1]))
        elif function == "InternetOpenUrlW" and rest.startswith("("):
            handle, arguments = rest[1:-1].split(", ", 1)
            arguments, context = arguments[1:].rsplit(", ", 1)
            context = "<context>" if int(context, 16) != 0 else context
            calls.append((function, names.get(handle, handle), "%s, %s" % (arguments, context)))
        elif function == "InternetOpenUrlW" and rest.endswith("<--"):
            names[rest.split()[0]] = "request"
        elif function == "HttpQueryInfoW" and rest.startswith("("):
            handle, level = re.match(r"\((\w+), (\w+)\)", rest).groups()
            calls.append((function, names.get(handle, handle), level))
        elif function == "InternetCloseHandle":
            calls.append((function, names.get(rest.strip(), rest.strip())))
    return calls


class HttpsDownloadSizeTest(HttpsInstallTest):
    def test_size_of_zero_or_below_stops_at_the_first_chunk(self):
        published = self.release.manifest.read_text()
        for size in (0, -5):
            with self.subTest(size=size):
                harness.clear_log()
                self.release.manifest.write_text(published.replace(
                    '"size": %d' % self.release.size, '"size": %d' % size))
                before = len(self.server.requests)

                code = self.install()

                self.assertEqual(code, 1)
                lines = harness.read_log()
                self.assertEqual(lines[-2], failed_lines(STEP_DOWNLOAD, "")[0])
                match = re.fullmatch(re.escape(self.url) + r" is (\d+) bytes, but the manifest "
                                     r"says %d: the download is incomplete, or is not the "
                                     r"published file\." % size, lines[-1])
                self.assertIsNotNone(match, lines[-1])
                # Stopped after the first chunk.
                self.assertGreater(self.release.size, TRANSFER_BUFFER_SIZE)
                self.assertIn(int(match.group(1)), range(1, TRANSFER_BUFFER_SIZE + 1))
                self.assertNotIn("Connection interrupted; retrying (2/3)...", lines)
                self.assertEqual(len([r for r in self.server.requests[before:]
                                      if r.path == self.archive_path]), 1)
                self.assert_nothing_installed()


class HttpsCdnDownloadTest(HttpsInstallTest):
    host = "cdn"

    def test_build_on_the_cdn_host_installs(self):
        self.assert_installed(self.install())
        archive = [r for r in self.server.requests if r.path == self.archive_path]
        self.assertEqual([(r.host, r.user_agent) for r in archive],
                         [("cdn.mirrowfold.example", USER_AGENT)])


if __name__ == "__main__":
    unittest.main()
