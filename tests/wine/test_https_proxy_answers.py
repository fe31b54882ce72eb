"""Answers that come from the proxy, not from the release server, are named as the proxy's:
its request for a user name and password (407), its refusal by policy (403), its failure to
reach the host (502) and its report that the host is down (503). The release server's own
answers keep their text in every shape, through the proxy or reached directly: with a body or
none, a length or chunked, the connection kept or closed."""
import unittest

import harness
from https_fixture import (DEFAULT_MANIFEST, HttpsInstallTest, fetch_answers, proxy_message,
                           server_message)
from release_server import ReleaseServer
from release_server.server import CDN_HOST, STORAGE_HOST

SERVER_STATUSES = (204, 301, 302, 403, 404, 410, 500, 503)
PROXY_STATUSES = (407, 403, 502, 503)


def answer_shapes():
    """(name, fault settings) of each shape of a status answer the release server can give."""
    for status in SERVER_STATUSES:
        for body in (b"", b"not the file\n"):
            for close in (False, True):
                for chunked in (False, True):
                    if status == 204 and (body or chunked):
                        continue  # a 204 has neither a body nor a length
                    name = "%d-%s-%s-%s" % (status, "body" if body else "empty",
                                            "close" if close else "keep-alive",
                                            "chunked" if chunked else "length")
                    yield name, dict(status=status, status_body=body, close=close,
                                     chunked=chunked)


class HttpsProxyAnswerTest(HttpsInstallTest):
    def test_the_proxys_own_answers_are_named_as_the_proxys(self):
        for status in PROXY_STATUSES:
            with self.subTest(status=status):
                harness.clear_log()
                self.server.set_proxy_fault(status)
                self.addCleanup(self.server.clear_proxy_fault)
                before = len(self.server.connects)

                code = self.install()

                self.assert_manifest_failed_three_times(code,
                                                        proxy_message(status, DEFAULT_MANIFEST))
                # Each try asked the proxy again; none of them reached the release server.
                self.assertGreaterEqual(len(self.server.connects) - before, 3)
                self.assertEqual(self.server.requests, [])

    def test_the_release_servers_own_answers_keep_their_text(self):
        for status in (403, 503):
            with self.subTest(status=status):
                harness.clear_log()
                self.server.set_fault(self.manifest_path, status=status)

                code = self.install()

                self.assert_manifest_failed_three_times(code,
                                                        server_message(DEFAULT_MANIFEST, status))

    def test_every_shape_of_the_servers_answer_is_the_servers_through_a_proxy_or_directly(self):
        # Reached directly, the release hosts are 127.0.0.1 and the server listens on 443.
        direct = ReleaseServer(self.work / "release", port=443)
        direct.start()
        self.addCleanup(direct.stop)
        hosts = self.work / "hosts"
        hosts.write_text("127.0.0.1 localhost %s %s\n" % (STORAGE_HOST, CDN_HOST))
        shapes = list(answer_shapes())
        for server in (self.server, direct):
            for name, settings in shapes:
                location = {"location": server.cdn_url("metadata.json")} \
                    if settings["status"] in (301, 302) else {}
                server.set_fault(server.storage_path(name), **settings, **location)
        addresses = [self.server.storage_url(name) for name, _ in shapes]
        expected = {name: server_message(address, settings["status"])
                    for (name, settings), address in zip(shapes, addresses)}
        proxy = self.server.proxy_url
        for route, options in (("through the proxy", dict(http_proxy=proxy, https_proxy=proxy)),
                               ("directly", dict(hosts=hosts))):
            with self.subTest(route=route):
                results = dict(zip(expected, fetch_answers(self.work, addresses, **options)))
                self.assertEqual({name: text for name, text in results.items()
                                  if text != expected[name]}, {})

    def test_a_proxy_that_asks_once_is_retried_and_the_install_goes_on(self):
        self.server.set_proxy_fault(407, times=1)

        self.assert_installed(self.install())
        lines = harness.read_log()
        message = proxy_message(407, DEFAULT_MANIFEST)
        self.assertEqual(lines[lines.index(message) + 1],
                         "Connection interrupted; retrying (2/3)...")


if __name__ == "__main__":
    unittest.main()
