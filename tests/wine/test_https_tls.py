"""Certificates the installer must refuse: one from a CA nobody trusts and one for another
host name. Each fails with WinINet's message and code, is tried three times, and installs
nothing."""
import unittest

import harness
from https_fixture import (DEFAULT_MANIFEST, STEP_DOWNLOAD, STEP_MANIFEST, HttpsInstallTest,
                           failed_lines, retry_lines)

# WinINet's table has no text for ERROR_INTERNET_INVALID_CA (12057), so only the code shows.
UNKNOWN_CA = "Windows error 12057"
WRONG_HOST = "SSL certificate common name (host name field) is incorrect. (Windows error 12038)"


class HttpsTlsTest(HttpsInstallTest):
    host = "cdn"   # the build lies on the other host, so each can fail on its own

    def test_refused_certificates(self):
        cdn = "cdn.mirrowfold.example"
        cases = [
            # (certificate mode, host served with it, failed step, address in the message)
            ("unknown_ca", None, STEP_MANIFEST, DEFAULT_MANIFEST, UNKNOWN_CA),
            ("wrong_host", None, STEP_MANIFEST, DEFAULT_MANIFEST, WRONG_HOST),
            ("unknown_ca", cdn, STEP_DOWNLOAD, self.url, UNKNOWN_CA),
            ("wrong_host", cdn, STEP_DOWNLOAD, self.url, WRONG_HOST),
        ]
        for mode, host, step, address, reason in cases:
            with self.subTest(mode=mode, host=host or "both"):
                harness.clear_log()
                self.server.set_tls("ok")
                self.server.set_tls(mode, host)
                before = len(self.server.requests)

                code = self.install()

                message = "Could not download %s: %s" % (address, reason)
                lines = harness.read_log()
                self.assertEqual(code, 1, lines)
                self.assertEqual(lines[-6:], [
                    *retry_lines(message, 2),
                    *retry_lines(message, 3),
                    *failed_lines(step, message),
                ])
                # No request ever reached the server over the refused connection.
                self.assertEqual([r.listener for r in self.server.requests[before:]],
                                 ["ok"] if host else [])
                self.assert_nothing_installed()


if __name__ == "__main__":
    unittest.main()
