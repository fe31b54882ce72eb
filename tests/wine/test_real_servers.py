"""The installer against software nobody on this project wrote, as users meet it: Debian's
squid as the proxy and Debian's nginx as the release server on port 443. squid's own answers
to CONNECT (a sign-in it wants, a host it refuses, a host that is down, a refusal that sends
the user elsewhere) are named as the proxy's; nginx's answers, through squid or reached
directly, stay the release server's, those with an empty body too; and a manifest and archive
that nginx serves gzip-encoded, though nobody asked for that, are decoded and installed.

Needs root (nginx listens on 443) and the test CA of scripts/with-test-ca.sh."""
import gzip
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness
from https_fixture import (ARCHIVE_NAME, DEFAULT_MANIFEST, PROXY_VARIABLES, InstallOutcomes,
                           fetch_answers, proxy_message, server_message)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import build_sample_release  # noqa: E402
from release_server.ca import issue_server_certificate, run_ca  # noqa: E402
from release_server.local_processes import free_port, stop, wait_for_port  # noqa: E402
from release_server.server import CDN_HOST, CDN_PREFIX, STORAGE_HOST, STORAGE_PREFIX  # noqa: E402

DOUBLES = harness.DOUBLES
# Where squid sends a refused request (its deny_info 302) and nginx its redirects.
ELSEWHERE = "https://%s%smetadata.json" % (CDN_HOST, CDN_PREFIX)
# nginx's answers other than the file, each at its own name under the release folder: its
# status and whether its body is empty. Error pages that are empty files (Content-Length: 0;
# the connection kept, or closed after the answer), an empty redirect, No Content, and nginx's
# own redirect page.
NGINX_ANSWERS = (("empty-errors/missing.json", 404, True), ("closing/missing.json", 404, True),
                 ("moved-empty.json", 302, True), ("no-content.json", 204, True),
                 ("moved.json", 302, False))


class RealServersTest(InstallOutcomes, harness.InstallerTestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="real-servers-", dir=harness.BUILD_DIR))
        # squid drops to its own user, which must be able to write its logs here.
        cls.work.chmod(0o777)
        cls.site = cls.work / "site"
        served = cls.site / STORAGE_PREFIX.strip("/")
        build_sample_release(served, DOUBLES / "Vantile.exe", archive_name=ARCHIVE_NAME)
        cls.plain = {name: (served / name).read_bytes() for name in ("metadata.json", ARCHIVE_NAME)}
        for name, content in cls.plain.items():
            (served / ("gzip-" + name)).write_bytes(gzip.compress(content))
        (cls.site / "empty.html").write_bytes(b"")
        cls.ports = {name: free_port() for name in ("sign_in", "refuse", "moved", "open")}
        cls.squid = cls.start_squid()

    @classmethod
    def tearDownClass(cls):
        stop(cls.squid)
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def start_squid(cls):
        hosts = cls.work / "hosts"
        hosts.write_text("127.0.0.1 %s %s\n" % (STORAGE_HOST, CDN_HOST))
        (cls.work / "passwd").write_text("")
        ports = cls.ports
        conf = cls.work / "squid.conf"
        conf.write_text("\n".join([
            *("http_port 127.0.0.1:%d name=%s" % (port, name) for name, port in ports.items()),
            "pid_filename %s" % (cls.work / "squid.pid"),
            "cache_log %s" % (cls.work / "squid-cache.log"),
            "access_log stdio:%s" % (cls.work / "squid-access.log"),
            "coredump_dir %s" % cls.work,
            "cache deny all",
            "shutdown_lifetime 0 seconds",
            "hosts_file %s" % hosts,
            "dns_nameservers 127.0.0.1",
            "auth_param basic program /usr/lib/squid/basic_ncsa_auth %s" % (cls.work / "passwd"),
            "auth_param basic realm vantile-tests",
            "acl signed proxy_auth REQUIRED",
            "acl sign_in myportname sign_in",
            "acl refuse myportname refuse",
            "acl moved myportname moved",
            "acl releases dstdomain .mirrowfold.example",
            # A refusal's deny_info belongs to the last acl of its http_access line.
            "deny_info 302:%s moved" % ELSEWHERE,
            "http_access deny sign_in !signed",
            "http_access deny refuse releases",
            "http_access deny releases moved",
            "http_access allow all",
        ]) + "\n")
        squid = subprocess.Popen(["squid", "-N", "-f", str(conf)], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        for port in ports.values():
            wait_for_port(port, squid, "squid")
        return squid

    def start_nginx(self):
        certificate, key = issue_server_certificate(run_ca(), self.work / "tls",
                                                    [STORAGE_HOST, CDN_HOST])
        conf = self.work / "nginx.conf"
        # gzip-<name> is served as <name> with Content-Encoding: gzip, as a stored object that
        # was uploaded compressed is served to everyone.
        conf.write_text(f"""
daemon off; pid {self.work}/nginx.pid; error_log {self.work}/nginx-error.log; user root;
events {{}}
http {{
  access_log {self.work}/nginx-access.log;
  server {{
    listen 127.0.0.1:443 ssl; server_name {STORAGE_HOST} {CDN_HOST};
    ssl_certificate {certificate}; ssl_certificate_key {key};
    root {self.site};
    location ~ ^(.*/)gzip/([^/]+)$ {{
      add_header Content-Encoding gzip; try_files $1gzip-$2 =404;
    }}
    location {STORAGE_PREFIX}empty-errors/ {{ error_page 404 /empty.html; }}
    location {STORAGE_PREFIX}closing/ {{ keepalive_timeout 0; error_page 404 /empty.html; }}
    location = {STORAGE_PREFIX}moved-empty.json {{
      error_page 418 =302 /moved.html; return 418;
    }}
    location = {STORAGE_PREFIX}no-content.json {{ return 204; }}
    location = {STORAGE_PREFIX}moved.json {{ return 302 {ELSEWHERE}; }}
    location = /empty.html {{ internal; }}
    location = /moved.html {{
      internal; add_header Location {ELSEWHERE} always; try_files /empty.html =500;
    }}
  }}
}}
""")
        nginx = subprocess.Popen(["nginx", "-c", str(conf)], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(stop, nginx)
        wait_for_port(443, nginx, "nginx")

    def setUp(self):
        super().setUp()
        self.place_tar_double()
        self.record = self.work / "record.txt"
        self.record.unlink(missing_ok=True)

    def proxy(self, port_name):
        return "http://127.0.0.1:%d" % self.ports[port_name]

    def install(self, port_name, manifest=None):
        proxy = self.proxy(port_name)
        env = {name: None for name in PROXY_VARIABLES}
        env.update(http_proxy=proxy, https_proxy=proxy,
                   VANTILE_TEST_RECORD=harness.windows_path(self.record))
        if manifest is not None:
            env["VANTILE_INSTALL_MANIFEST"] = manifest
        return harness.run_installer(["--quiet"], env=env)

    def test_squids_own_answers_are_named_as_the_proxys(self):
        # Nothing listens on 443 yet: squid itself answers 503 for the host that is down.
        cases = (("sign_in", 407), ("refuse", 403), ("moved", 302), ("open", 503))
        for port_name, status in cases:
            with self.subTest(port=port_name):
                harness.clear_log()
                code = self.install(port_name)
                self.assert_manifest_failed_three_times(code,
                                                        proxy_message(status, DEFAULT_MANIFEST))

    def test_through_squid_nginx_answers_as_itself_and_compressed_files_install(self):
        self.start_nginx()
        missing = DEFAULT_MANIFEST.replace("metadata.json", "missing.json")
        code = self.install("open", manifest=missing)
        self.assert_manifest_failed_three_times(code, server_message(missing, 404), missing)

        # The manifest names the archive at its own address; both come gzip-encoded.
        harness.clear_log()
        gzip_manifest = self.site / STORAGE_PREFIX.strip("/") / "gzip-metadata.json"
        gzip_manifest.write_bytes(gzip.compress(self.plain["metadata.json"].replace(
            b"/" + ARCHIVE_NAME.encode(), b"/gzip/" + ARCHIVE_NAME.encode())))
        code = self.install(
            "open", manifest=DEFAULT_MANIFEST.replace("metadata.json", "gzip/metadata.json"))

        self.assert_installed(code)
        self.assertNotIn("Connection interrupted; retrying (2/3)...", harness.read_log())
        # On the wire each answer was the compressed file, smaller than what was installed.
        served = self.site / STORAGE_PREFIX.strip("/")
        self.assertEqual(self.nginx_answered(2), [
            ("GET %sgzip/%s HTTP/1.1" % (STORAGE_PREFIX, name), 200,
             len((served / ("gzip-" + name)).read_bytes()))
            for name in ("metadata.json", ARCHIVE_NAME)])

    def nginx_answered(self, count):
        """The last count requests nginx answered: (request line, status, body bytes sent)."""
        answered = []
        for line in (self.work / "nginx-access.log").read_text().splitlines()[-count:]:
            request, after = line.split('"')[1:3]
            status, size = after.split()[:2]
            answered.append((request, int(status), int(size)))
        return answered

    def test_nginxs_answers_are_nginxs_through_squid_and_directly(self):
        self.start_nginx()
        hosts = self.work / "hosts-direct"
        hosts.write_text("127.0.0.1 localhost %s %s\n" % (STORAGE_HOST, CDN_HOST))
        addresses = ["https://%s%s%s" % (STORAGE_HOST, STORAGE_PREFIX, name)
                     for name, _, _ in NGINX_ANSWERS]
        expected = [server_message(address, status)
                    for address, (_, status, _) in zip(addresses, NGINX_ANSWERS)]
        proxy = self.proxy("open")
        for route, options in (("through squid", dict(http_proxy=proxy, https_proxy=proxy)),
                               ("directly", dict(hosts=hosts))):
            with self.subTest(route=route):
                self.assertEqual(fetch_answers(self.work, addresses, **options), expected)
                # Each answer had the shape its row is about.
                answered = self.nginx_answered(len(addresses))
                self.assertEqual(
                    [(request, status, size == 0) for request, status, size in answered],
                    [("GET %s%s HTTP/1.1" % (STORAGE_PREFIX, name), status, empty)
                     for name, status, empty in NGINX_ANSWERS])


if __name__ == "__main__":
    unittest.main()
