"""Answers that come from the proxy, not from the release server, are named as the proxy's:
its request for a user name and password (407), its refusal by policy (403) and its report
that the host is down (503). The release server's own answers keep their text."""
import unittest

import harness
from https_fixture import (DEFAULT_MANIFEST, STEP_MANIFEST, HttpsInstallTest, failed_lines,
                           retry_lines)


def proxy_message(status, address):
    if status == 407:
        return ("The proxy server asks for a user name and password (HTTP 407) before it passes "
                "on %s; Vantile's installer cannot sign in to a proxy." % address)
    return "The proxy server answered HTTP %d instead of passing on %s." % (status, address)


class HttpsProxyAnswerTest(HttpsInstallTest):
    def assert_manifest_failed_three_times(self, message):
        self.assertEqual(self.log_from_manifest_line(), [
            "Manifest: " + DEFAULT_MANIFEST,
            *retry_lines(message, 2),
            *retry_lines(message, 3),
            *failed_lines(STEP_MANIFEST, message),
        ])
        self.assert_nothing_installed()

    def test_the_proxys_own_answers_are_named_as_the_proxys(self):
        for status in (407, 403, 503):
            with self.subTest(status=status):
                harness.clear_log()
                self.server.set_proxy_fault(status)
                self.addCleanup(self.server.clear_proxy_fault)
                before = len(self.server.connects)

                code = self.install()

                self.assertEqual(code, 1)
                self.assert_manifest_failed_three_times(proxy_message(status, DEFAULT_MANIFEST))
                # Each try asked the proxy again; none of them reached the release server.
                self.assertGreaterEqual(len(self.server.connects) - before, 3)
                self.assertEqual(self.server.requests, [])

    def test_the_release_servers_own_answers_keep_their_text(self):
        for status in (403, 503):
            with self.subTest(status=status):
                harness.clear_log()
                self.server.set_fault(self.manifest_path, status=status)

                code = self.install()

                self.assertEqual(code, 1)
                self.assert_manifest_failed_three_times(
                    "%s answered HTTP %d, not the file." % (DEFAULT_MANIFEST, status))

    def test_a_proxy_that_asks_once_is_retried_and_the_install_goes_on(self):
        self.server.set_proxy_fault(407, times=1)

        self.assert_installed(self.install())
        lines = harness.read_log()
        message = proxy_message(407, DEFAULT_MANIFEST)
        self.assertEqual(lines[lines.index(message) + 1],
                         "Connection interrupted; retrying (2/3)...")


if __name__ == "__main__":
    unittest.main()
