"""A server that compresses an answer nobody asked it to compress (a stored object uploaded
with Content-Encoding: gzip): WinINet decodes it, and the size limit, the size and the SHA-256
apply to the decoded bytes."""
import gzip
import unittest

import harness
from https_fixture import DEFAULT_MANIFEST, STEP_MANIFEST, HttpsInstallTest, failed_lines

MANIFEST_SIZE_LIMIT = 1048576


class HttpsCompressedAnswerTest(HttpsInstallTest):
    def test_a_compressed_manifest_and_archive_are_installed(self):
        for path in (self.manifest_path, self.archive_path):
            self.server.set_fault(path, gzip=True)

        self.assert_installed(self.install())
        sent = [(r.path, r.fault) for r in self.server.requests]
        self.assertEqual(sent, [(self.manifest_path, {"gzip": True}),
                                (self.archive_path, {"gzip": True})])
        self.assertNotIn("Connection interrupted; retrying (2/3)...", harness.read_log())

    def test_the_manifest_limit_applies_to_the_decoded_bytes(self):
        manifest = self.release.manifest.read_bytes()
        too_large = manifest + b" " * (MANIFEST_SIZE_LIMIT + 1 - len(manifest))
        # Well under the limit on the wire.
        self.assertLess(len(gzip.compress(too_large)), MANIFEST_SIZE_LIMIT // 100)
        self.server.set_fault(self.manifest_path, body=too_large, gzip=True)

        code = self.install()

        message = "The manifest " + DEFAULT_MANIFEST + " is larger than a manifest can be."
        self.assertEqual(code, 1)
        self.assertEqual(harness.read_log()[-2:], failed_lines(STEP_MANIFEST, message))
        self.assert_nothing_installed()


if __name__ == "__main__":
    unittest.main()
