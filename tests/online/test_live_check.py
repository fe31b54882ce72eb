"""`vantile-release check` on a live release, against the project's release server with its
faults: each failure named with the installer's own message and one line on what the host did,
the exit code of the tool's table, and each download's outcome in --json."""
import gzip
import unittest

from live_check_fixture import DEFAULT_MANIFEST, LiveReleaseTest, run_tool


class LiveCheckTest(LiveReleaseTest):
    def test_the_sample_release_as_served_installs_everywhere(self):
        code, lines, _ = self.check(DEFAULT_MANIFEST)
        self.assertEqual(code, 0, lines)
        self.assertIn("x64: %s has that size and SHA-256" % self.release.url, lines)
        self.assertIn("x64: %s unpacks with Vantile.exe at its top" % self.release.url, lines)
        self.assertEqual(lines[-1], "Both kinds of computer would install.")
        # One request per address: the archive both kinds of computer choose is read once.
        paths = [request.path for request in self.server.requests]
        self.assertEqual(paths, [self.manifest_path, self.archive_path])
        self.assertTrue(all(request.user_agent.startswith("Vantile-Install/")
                            for request in self.server.requests))

        code, document, _ = self.check(DEFAULT_MANIFEST, json_output=True)
        self.assertEqual(code, 0)
        fetched = document["verdict"]["computers"][0]["fetched"]
        self.assertEqual((fetched["status"], fetched["bytes_read"], fetched["sha256"],
                          fetched["content_length"], fetched["content_encoding"]),
                         (200, self.release.size, self.release.sha256, str(self.release.size),
                          None))
        self.assertEqual(document["verdict"]["manifest_fetched"]["status"], 200)

    def test_each_host_fault_is_named_with_the_installers_message(self):
        url, size = self.release.url, self.release.size
        redirect_to = "https://cdn.mirrowfold.example/vantile/desktop/elsewhere.zip"
        size_message = ("%s is %%d bytes, but the manifest says %d: the download is incomplete, "
                        "or is not the published file." % (url, size))
        cases = (
            ("redirect", dict(status=302, location=redirect_to),
             "%s answered HTTP 302, not the file." % url,
             "the release host redirects (HTTP 302) to %s; the installer follows no redirect, "
             "so the file must be served at this address itself" % redirect_to),
            ("not found", dict(status=404), "%s answered HTTP 404, not the file." % url,
             "the release host answered HTTP 404 instead of the file"),
            ("unasked gzip", dict(gzip=True),
             size_message % len(gzip.compress(self.release.archive_bytes, mtime=0)),
             "the release host sends it with Content-Encoding: gzip, which the installer never "
             "asks for: Windows' WinINet hands such bytes to the installer still encoded, so its "
             "size and SHA-256 fail there (it works under Wine and in a browser, which decode it)"),
            ("Content-Length other than the size", dict(append=100), size_message % (size + 100),
             "the release host says Content-Length %d, but the manifest says %d bytes"
             % (size + 100, size)),
            ("cut connection", dict(cut_after=50), size_message % 50,
             "the release host closed the connection after 50 bytes, though its Content-Length "
             "is %d" % size),
            ("reset connection", dict(reset_after=50),
             "The download of %s stopped: The connection with the server was terminated "
             "abnormally (Windows error 12030)" % url,
             "the release host broke the connection after 50 bytes of the body"),
        )
        for name, fault, message, host_line in cases:
            with self.subTest(name):
                self.server.set_fault(self.archive_path, **fault)
                code, lines, _ = self.check(DEFAULT_MANIFEST)
                self.assertEqual(code, 1, lines)
                failure = lines.index("x64: would fail: " + message)
                self.assertEqual(lines[failure + 1], "x64: " + host_line)
                self.assertEqual(lines[-1], "Neither kind of computer would install.")

    def test_a_large_archive_is_read_no_further_than_its_size_and_one_chunk(self):
        self.server.set_fault(self.archive_path, append=8 << 20)
        code, document, _ = self.check(DEFAULT_MANIFEST, json_output=True)
        self.assertEqual(code, 1)
        read = document["verdict"]["computers"][0]["fetched"]["bytes_read"]
        self.assertGreater(read, self.release.size)
        self.assertLessEqual(read, self.release.size + 65536)

    def test_the_manifest_as_served(self):
        manifest = DEFAULT_MANIFEST
        cases = (
            ("unasked gzip", dict(gzip=True),
             "The manifest %s is not valid JSON: expected value at line 1 column 1" % manifest,
             "the release host sends it with Content-Encoding: gzip, which the installer never "
             "asks for: Windows' WinINet hands such bytes to the installer still encoded, so the "
             "manifest is not JSON to it and every install fails there (it works under Wine and "
             "in a browser, which decode it)"),
            ("redirect", dict(status=301, location=manifest + "x"),
             "%s answered HTTP 301, not the file." % manifest,
             "the release host redirects (HTTP 301) to %sx; the installer follows no redirect, "
             "so the file must be served at this address itself" % manifest),
            ("too large", dict(append=1 << 20),
             "The manifest %s is larger than a manifest can be." % manifest, None),
        )
        for name, fault, message, host_line in cases:
            with self.subTest(name):
                self.server.set_fault(self.manifest_path, **fault)
                code, lines, _ = self.check(manifest)
                self.assertEqual(code, 1, lines)
                self.assertIn("x64: would fail: " + message, lines)
                if host_line:
                    self.assertIn(host_line, lines)

    def test_a_manifest_at_hand_is_compared_with_the_one_served(self):
        local = str(self.release.manifest)
        code, lines, _ = self.check(local, "--online")
        self.assertEqual(code, 0, lines)
        self.assertIn("the release host serves %s at %s" % (local, DEFAULT_MANIFEST), lines)

        # A cache still answers with the manifest of the release before.
        older = self.release.manifest.read_text().replace("1.4.0", "1.3.9")
        self.server.set_fault(self.manifest_path, body=older.encode())
        code, lines, _ = self.check(local, "--online")
        self.assertEqual(code, 1, lines)
        served = [line for line in lines if line.startswith("the release host serves another")]
        self.assertEqual(len(served), 1, lines)
        self.assertIn("at %s (its x64 build is 1.3.9)" % DEFAULT_MANIFEST, served[0])
        self.assertTrue(served[0].endswith("not %s: a cache or an older upload answers there, "
                                           "and installers get that one" % local))

        # --manifest-address names where installers read it.
        other = self.server.storage_url("other.json")
        self.release.manifest.with_name("other.json").write_text(older)
        code, lines, _ = self.check(local, "--online", "--manifest-address", other)
        self.assertEqual(code, 1, lines)
        self.assertIn("at %s (its x64 build is 1.3.9)" % other, lines[-2])

    def test_tls_failures_and_unreachable_addresses(self):
        self.server.set_tls("wrong_host")
        code, lines, _ = self.check(DEFAULT_MANIFEST)
        self.assertEqual(code, 1, lines)
        self.assertIn("x64: would fail: Could not download %s: The certificate's CN name does "
                      "not match the passed value (Windows error 12038)" % DEFAULT_MANIFEST, lines)
        self.assertTrue(any(line.startswith("the release host fails the TLS handshake")
                            for line in lines), lines)

        # The proxy refuses to reach the host at all: the publisher's mistake, exit 2.
        self.server.set_tls("ok")
        self.server.set_proxy_fault(503)
        code, lines, err = self.check(DEFAULT_MANIFEST)
        self.assertEqual(code, 1, err)
        self.assertIn("x64: would fail: The proxy server answered HTTP 503 instead of passing "
                      "on %s." % DEFAULT_MANIFEST, lines)
        # Without the proxy the release host's name is not known here: nothing answers at all,
        # the publisher's mistake (exit 2).
        code, out, err = run_tool(["check", DEFAULT_MANIFEST])
        self.assertEqual(code, 2, out)
        self.assertEqual(err, "vantile-release: Could not download %s: The server name or "
                              "address could not be resolved (Windows error 12007) The release "
                              "host cannot be reached: has a name that cannot be resolved: "
                              "Could not resolve host: releases.mirrowfold.example.\n"
                              % DEFAULT_MANIFEST)


if __name__ == "__main__":
    unittest.main()
