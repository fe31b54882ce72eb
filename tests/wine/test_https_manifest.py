"""The release manifest over https: the default address with no override, the requests the
release server sees, and a manifest that cannot be read (tried three times)."""
import unittest

import harness
from https_fixture import (DEFAULT_MANIFEST, FIRST_LINE, STEP_MANIFEST, USER_AGENT,
                           HttpsInstallTest, failed_lines, retry_lines)

MANIFEST_SIZE_LIMIT = 1048576


class HttpsManifestTest(HttpsInstallTest):
    def test_default_install_reads_the_fixed_address_and_follows_no_redirect(self):
        code = self.install()

        self.assert_installed(code)
        self.assertEqual(harness.read_log(), [
            FIRST_LINE,
            "Checking this computer\u2026",
            "Reading the release manifest\u2026",
            "Manifest: " + DEFAULT_MANIFEST,
            "Installing the Vantile desktop app 1.4.0 for win32-x64 (desktop-windows-x64)",
            "Downloading Vantile\u2026",
            "Unpacking Vantile\u2026",
            "Installing Vantile\u2026",
            "Vantile 1.4.0 is installed, and it is opening now.",
        ])
        requests = self.server.requests
        self.assertEqual([(r.method, r.host, r.path) for r in requests], [
            ("GET", "releases.mirrowfold.example", self.manifest_path),
            ("GET", "releases.mirrowfold.example", self.archive_path),
        ])
        for request in requests:
            self.assertEqual(request.user_agent, USER_AGENT)
            # Caches bypassed, no cookies, nothing added by the program.
            self.assertEqual(request.headers.get("Pragma"), "no-cache")
            self.assertNotIn("Cookie", request.headers)
            self.assertNotIn("Range", request.headers)
        self.assertEqual(self.server.redirects_followed, [])
        # Wine's WinINet may keep one connection for both requests.
        self.assertEqual({(c.host, c.port, c.allowed) for c in self.server.connects},
                         {("releases.mirrowfold.example", 443, True)})

    def test_override_addresses_are_fetched_as_written(self):
        # Any https address may name the manifest, on either host and in any letter case
        # of the scheme; the build it names is still judged by the trust rules.
        cases = [
            DEFAULT_MANIFEST.replace("https://", "HTTPS://"),
            self.server.cdn_url("metadata.json"),
        ]
        for manifest in cases:
            with self.subTest(manifest=manifest):
                harness.clear_log()
                self.record.unlink(missing_ok=True)
                code = self.install(manifest)
                self.assert_installed(code)
                self.assertIn("Manifest: " + manifest, harness.read_log())

    def test_manifest_that_cannot_be_read_is_tried_three_times(self):
        too_large = b" " * (MANIFEST_SIZE_LIMIT + 1)
        cases = [
            ("HTTP 404", dict(status=404),
             DEFAULT_MANIFEST + " answered HTTP 404, not the file."),
            ("redirect", dict(status=302, location=self.server.cdn_url("metadata.json")),
             DEFAULT_MANIFEST + " answered HTTP 302, not the file."),
            ("one byte over the limit", dict(body=too_large),
             "The manifest " + DEFAULT_MANIFEST + " is larger than a manifest can be."),
        ]
        for name, fault, message in cases:
            with self.subTest(name):
                harness.clear_log()
                self.server.set_fault(self.manifest_path, **fault)
                before = len(self.server.requests)

                code = self.install()

                self.assertEqual(code, 1)
                self.assertEqual(self.log_from_manifest_line(), [
                    "Manifest: " + DEFAULT_MANIFEST,
                    *retry_lines(message, 2),
                    *retry_lines(message, 3),
                    *failed_lines(STEP_MANIFEST, message),
                ])
                self.assertEqual([r.path for r in self.server.requests[before:]],
                                 [self.manifest_path] * 3)
                self.assertEqual(self.server.redirects_followed, [])
                self.assert_nothing_installed()

    def test_manifest_of_exactly_the_limit_is_read(self):
        manifest = self.release.manifest.read_bytes()
        padded = manifest + b" " * (MANIFEST_SIZE_LIMIT - len(manifest))
        self.assertEqual(len(padded), MANIFEST_SIZE_LIMIT)
        self.server.set_fault(self.manifest_path, body=padded)

        self.assert_installed(self.install())
        self.assertNotIn("Connection interrupted; retrying (2/3)...", harness.read_log())


if __name__ == "__main__":
    unittest.main()
