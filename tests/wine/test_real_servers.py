"""The installer against software nobody on this project wrote, as users meet it: Debian's
squid as the proxy and Debian's nginx as the release server on port 443. squid's own answers
to CONNECT (a sign-in it wants, a host it refuses, a host that is down) are named as the
proxy's; nginx's answers through squid stay the release server's; and a manifest and archive
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
from https_fixture import (ARCHIVE_NAME, DEFAULT_MANIFEST, PROXY_VARIABLES, STEP_MANIFEST,
                           failed_lines, proxy_message, retry_lines)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from release_server import build_sample_release  # noqa: E402
from release_server.ca import issue_server_certificate, run_ca  # noqa: E402
from release_server.local_processes import free_port, stop, wait_for_port  # noqa: E402
from release_server.server import CDN_HOST, STORAGE_HOST, STORAGE_PREFIX  # noqa: E402

DOUBLES = harness.DOUBLES


class RealServersTest(harness.InstallerTestCase):
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
        cls.ports = {name: free_port() for name in ("sign_in", "refuse", "open")}
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
            "acl releases dstdomain .mirrowfold.example",
            "http_access deny sign_in !signed",
            "http_access deny refuse releases",
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

    def install(self, proxy_port, manifest=None):
        proxy = "http://127.0.0.1:%d" % proxy_port
        env = {name: None for name in PROXY_VARIABLES}
        env.update(http_proxy=proxy, https_proxy=proxy,
                   VANTILE_TEST_RECORD=harness.windows_path(self.record))
        if manifest is not None:
            env["VANTILE_INSTALL_MANIFEST"] = manifest
        return harness.run_installer(["--quiet"], env=env)

    def assert_manifest_failed_three_times(self, code, message):
        self.assertEqual(code, 1)
        lines = harness.read_log()
        self.assertEqual(lines[-6:], [*retry_lines(message, 2), *retry_lines(message, 3),
                                      *failed_lines(STEP_MANIFEST, message)])
        self.assertFalse(self.record.exists(), "the app's installer ran")

    def test_squids_own_answers_are_named_as_the_proxys(self):
        # Nothing listens on 443 yet: squid itself answers 503 for the host that is down.
        cases = (("sign_in", 407), ("refuse", 403), ("open", 503))
        for port_name, status in cases:
            with self.subTest(port=port_name):
                harness.clear_log()
                code = self.install(self.ports[port_name])
                self.assert_manifest_failed_three_times(code,
                                                        proxy_message(status, DEFAULT_MANIFEST))

    def test_through_squid_nginx_answers_as_itself_and_compressed_files_install(self):
        self.start_nginx()
        missing = DEFAULT_MANIFEST.replace("metadata.json", "missing.json")
        code = self.install(self.ports["open"], manifest=missing)
        self.assert_manifest_failed_three_times(code, "%s answered HTTP 404, not the file." % missing)

        # The manifest names the archive at its own address; both come gzip-encoded.
        harness.clear_log()
        gzip_manifest = self.site / STORAGE_PREFIX.strip("/") / "gzip-metadata.json"
        gzip_manifest.write_bytes(gzip.compress(self.plain["metadata.json"].replace(
            b"/" + ARCHIVE_NAME.encode(), b"/gzip/" + ARCHIVE_NAME.encode())))
        code = self.install(self.ports["open"],
                            manifest=DEFAULT_MANIFEST.replace("metadata.json", "gzip/metadata.json"))

        lines = harness.read_log()
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[-1], "Vantile 1.4.0 is installed, and it is opening now.")
        self.assertTrue(self.record.exists(), "the app's installer did not run")
        self.assertNotIn("Connection interrupted; retrying (2/3)...", lines)
        access = (self.work / "nginx-access.log").read_text()
        sent = [line.split('"')[1] for line in access.splitlines()]
        self.assertEqual(sent[-2:], [
            "GET %sgzip/metadata.json HTTP/1.1" % STORAGE_PREFIX,
            "GET %sgzip/%s HTTP/1.1" % (STORAGE_PREFIX, ARCHIVE_NAME)])
        # On the wire each answer was the compressed file, smaller than what was installed.
        wire = [int(line.split('"')[2].split()[1]) for line in access.splitlines()[-2:]]
        self.assertEqual(wire, [len((self.site / STORAGE_PREFIX.strip("/") / name).read_bytes())
                                for name in ("gzip-metadata.json", "gzip-" + ARCHIVE_NAME)])


if __name__ == "__main__":
    unittest.main()
