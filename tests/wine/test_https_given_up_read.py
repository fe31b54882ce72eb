"""A WinINet call that the program gave up on, seen in Wine's WinINet trace.

fetch_tool.exe runs the program's own fetch_address with a short stall limit against a server
that stalls for longer, then stays alive a while. The fetch ends after the limit with the
time-out error, while the stalled call goes on: when it returns, its thread closes the request
and then the root handle. (Wine's InternetReadFile does not return when another thread closes
its handle, so the thread that made the call is the one that can close it.)
"""
import re
import unittest

import harness
from https_fixture import HttpsInstallTest

FETCH_TOOL = harness.SUPPORT_DIR / "fetch_tool.exe"
# The limit must not end the wait before the stall: on a loaded machine the answer alone (the
# proxy, the TLS handshake, the headers) took up to 1.1 s, and a 1-second limit gave up on it.
LIMIT_MS = 5000
STALL_SECONDS = 12
# Long enough after the fetch gives up for the stalled call to return and its closes to follow.
LINGER_MS = 15000
TIMED_OUT = "The request has timed out. (Windows error 12002)"
# The program's own calls in a "+timestamp,+tid,trace+wininet" trace: seconds, thread, function.
TRACE_LINE = re.compile(r"^(\d+\.\d+):([0-9a-f]+):\w+:wininet:(InternetOpenW|InternetSetOptionW|"
                        r"InternetOpenUrlW|HttpQueryInfoW|InternetReadFile|InternetCloseHandle) ?(.*)$")


class GivenUpReadTest(HttpsInstallTest):
    def fetch_with_trace(self):
        report = self.work / "report.txt"
        result = harness.run_program(
            FETCH_TOOL, ["fetch", self.url, harness.windows_path(self.work / "body.bin"),
                         harness.windows_path(report), str(LIMIT_MS), str(LINGER_MS)],
            env={"http_proxy": self.server.proxy_url, "https_proxy": self.server.proxy_url,
                 "WINEDEBUG": "+timestamp,+tid,trace+wininet"}, timeout=120)
        fields = dict(line.split(": ", 1) for line in report.read_text().splitlines())
        calls = []
        for line in result.stderr.decode("utf-8", "replace").splitlines():
            match = TRACE_LINE.match(line)
            if match:
                seconds, thread, function, rest = match.groups()
                calls.append((float(seconds), thread, function, rest))
        return fields, calls

    def test_the_stalled_call_closes_request_then_root_on_its_own_thread_when_it_returns(self):
        cases = [
            ("body", dict(stall_after=self.release.size // 2, stall_seconds=STALL_SECONDS),
             "The download of %s stopped: %s" % (self.url, TIMED_OUT), "InternetReadFile"),
            ("answer", dict(headers_delay=STALL_SECONDS),
             "Could not download %s: %s" % (self.url, TIMED_OUT), "HttpQueryInfoW"),
        ]
        for name, fault, message, last_call in cases:
            with self.subTest(name):
                self.server.set_fault(self.archive_path, times=1, **fault)

                fields, calls = self.fetch_with_trace()

                self.assertEqual(fields["result"], message)
                given_up_after = float(fields["seconds"])
                self.assertGreaterEqual(given_up_after, LIMIT_MS / 1000)
                self.assertLess(given_up_after, STALL_SECONDS - 0.5)

                self.assertEqual({c[1] for c in calls}, {calls[0][1]},
                                 "every call, the closes too, on the thread that opened the root")
                root = next(c for c in calls if c[2] == "InternetSetOptionW")[3].strip("(").split()[0]
                request = next(c for c in calls
                               if c[2] == "InternetOpenUrlW" and c[3].endswith("<--"))[3].split()[0]
                closes = [c for c in calls if c[2] == "InternetCloseHandle"]
                self.assertEqual([c[3] for c in closes], [request, root])
                # The closes follow the stalled call's return, well after the fetch gave up.
                self.assertEqual(calls[calls.index(closes[0]) - 1][2], last_call)
                self.assertGreaterEqual(closes[0][0] - calls[0][0], STALL_SECONDS - 0.5)


if __name__ == "__main__":
    unittest.main()
