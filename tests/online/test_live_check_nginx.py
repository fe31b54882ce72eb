"""`vantile-release check` of the sample release as Debian's nginx serves it, with this run's
test CA, on a high loopback port that the release server's CONNECT proxy routes the release
host to: software nobody on this project wrote answers, and every computer would install."""
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from live_check_fixture import ARCHIVE_NAME, DEFAULT_MANIFEST, run_tool
from release_server import ReleaseServer, build_sample_release
from release_server.local_processes import free_port, stop, wait_for_port
from release_server.ca import issue_server_certificate, run_ca
from release_server.server import CDN_HOST, STORAGE_HOST, STORAGE_PREFIX


class NginxLiveCheckTest(unittest.TestCase):
    def setUp(self):
        self.work = pathlib.Path(tempfile.mkdtemp(prefix="live-nginx-"))
        self.work.chmod(0o755)
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        exe = self.work / "Vantile.exe"
        exe.write_bytes(b"MZ stand-in")
        site = self.work / "site"
        self.release = build_sample_release(site / STORAGE_PREFIX.strip("/"), exe,
                                            archive_name=ARCHIVE_NAME)
        ca = run_ca()
        self.ca_file = ca.certificate
        certificate, key = issue_server_certificate(ca, self.work / "tls", [STORAGE_HOST, CDN_HOST])
        port = free_port()
        conf = self.work / "nginx.conf"
        conf.write_text(f"""
daemon off; pid {self.work}/nginx.pid; error_log {self.work}/nginx-error.log;
events {{}}
http {{
  access_log {self.work}/nginx-access.log;
  server {{
    listen 127.0.0.1:{port} ssl; server_name {STORAGE_HOST} {CDN_HOST};
    ssl_certificate {certificate}; ssl_certificate_key {key};
    root {site};
  }}
}}
""")
        nginx = subprocess.Popen(["nginx", "-c", str(conf), "-e", str(self.work / "nginx.log")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, nginx)
        wait_for_port(port, nginx, "nginx")
        self.server = ReleaseServer(self.work / "unused")
        self.server.start()
        self.addCleanup(self.server.stop)
        self.server.route_to(port)

    def test_the_sample_release_served_by_nginx_installs_everywhere(self):
        code, out, err = run_tool(["check", DEFAULT_MANIFEST, "--ca-file", str(self.ca_file)],
                                  proxy=self.server.proxy_url)
        lines = out.splitlines()
        self.assertEqual(code, 0, out + err)
        self.assertIn("x64: %s has that size and SHA-256" % self.release.url, lines)
        self.assertEqual(lines[-1], "Both kinds of computer would install.")
        access = (self.work / "nginx-access.log").read_text().splitlines()
        self.assertEqual([line.split('"')[1] for line in access],
                         ["GET %smetadata.json HTTP/1.1" % STORAGE_PREFIX,
                          "GET %s%s HTTP/1.1" % (STORAGE_PREFIX, ARCHIVE_NAME)])


if __name__ == "__main__":
    unittest.main()
