"""scripts/sign.sh: Authenticode signing with a throwaway code-signing CA made for this run
(openssl), checked with osslsigncode verify against that CA; any changed byte breaks the
signature; an RFC 3161 time stamp from a local time-stamp server verifies; removing the
signature gives back the unsigned build byte for byte; the signed program still installs a
sample release under Wine; the script refuses to sign without its key and password, and a key
inside the checkout also when the checkout is reached through a link; the password reaches no
command's environment or command line; a failed signing leaves the output as it was."""
import hashlib
import http.server
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import threading
import unittest
import zipfile

import pefile

import harness

SIGN = harness.SOURCE_DIR / "scripts" / "sign.sh"
DOUBLES = harness.DOUBLES
PASSWORD = "throwaway password"

# Stands in for osslsigncode and records what it was given: its command line, its environment
# and the password it read from the -readpass file. FAKE_SIGN=fail writes half a file, then fails.
FAKE_OSSLSIGNCODE = """#!/bin/bash
record="$FAKE_SIGN_RECORD"
printf '%s\\n' "$@" > "$record.arguments"
env > "$record.environment"
while [ $# -gt 0 ]; do
  case "$1" in
    -readpass) cat "$2" > "$record.password"; shift ;;
    -in) input="$2"; shift ;;
    -out) output="$2"; shift ;;
  esac
  shift
done
if [ "${FAKE_SIGN:-}" = fail ]; then
  head -c 100 "$input" > "$output"
  exit 1
fi
cp "$input" "$output"
"""

# Records the environment of every git the script starts, then runs the real one.
FAKE_GIT = """#!/bin/bash
env >> "$FAKE_SIGN_RECORD.git-environment"
exec /usr/bin/git "$@"
"""
INSTALLED = "Vantile 1.4.0 is installed, and it is opening now."

OPENSSL_CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Vantile Test Code Signing CA
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code_signing_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[time_stamping_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = {folder}/tsa-serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
other_policies = 1.3.6.1.4.1.99999.2
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_test_pki(folder):
    """A CA, a code-signing certificate in a password-protected PKCS#12 file, and a
    time-stamping certificate, all issued by that CA and valid for two days."""
    (folder / "openssl.cnf").write_text(OPENSSL_CONFIG.format(folder=folder))
    (folder / "tsa-serial").write_text("01\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
            "-days", "2", "-config", "openssl.cnf", "-extensions", "ca_ext", cwd=folder)
    for name, subject, extensions in (("signer", "Vantile Test Publisher", "code_signing_ext"),
                                      ("tsa", "Vantile Test Time Stamps", "time_stamping_ext")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                name + ".csr", "-subj", "/CN=" + subject, cwd=folder)
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-out", name + ".crt", "-days", "2", "-extfile", "openssl.cnf",
                "-extensions", extensions, cwd=folder)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.crt", "-certfile", "ca.crt",
            "-out", "signer.p12", "-passout", "pass:" + PASSWORD, cwd=folder)


class TimeStampServer:
    """An RFC 3161 time-stamp server on loopback that answers with `openssl ts -reply`."""

    def __init__(self, folder):
        self.requests = 0
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = folder / "query.tsq"
                query.write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
                subprocess.run(["openssl", "ts", "-reply", "-config", "openssl.cnf", "-queryfile",
                                "query.tsq", "-inkey", "tsa.key", "-signer", "tsa.crt", "-chain",
                                "ca.crt", "-out", "reply.tsr"], cwd=folder, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                reply = (folder / "reply.tsr").read_bytes()
                server.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *arguments):
                pass

        self.http = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.http.server_address[1]
        self.thread = threading.Thread(target=self.http.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.http.shutdown()
        self.http.server_close()


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pki = pathlib.Path(tempfile.mkdtemp(prefix="signing-pki-", dir=harness.BUILD_DIR))
        make_test_pki(cls.pki)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.pki, ignore_errors=True)

    def setUp(self):
        self.work = pathlib.Path(tempfile.mkdtemp(prefix="signing-", dir=harness.BUILD_DIR))
        self.addCleanup(shutil.rmtree, self.work, True)
        self.unsigned = self.work / "vantile-install.exe"
        shutil.copyfile(harness.EXE, self.unsigned)

    def sign(self, *arguments, **variables):
        env = {name: value for name, value in os.environ.items() if not name.startswith("VANTILE_SIGN_")}
        env.update(VANTILE_SIGN_PKCS12=str(self.pki / "signer.p12"), VANTILE_SIGN_PASSWORD=PASSWORD)
        for name, value in variables.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return subprocess.run(["bash", str(SIGN), *map(str, arguments)], env=env,
                              capture_output=True, text=True, timeout=120)

    def verify(self, path, *extra):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.pki / "ca.crt"), *extra,
                               "-in", str(path)], capture_output=True, text=True, timeout=120)

    def signed(self, **variables):
        output = self.work / "signed.exe"
        result = self.sign(self.unsigned, output, **variables)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(hashlib.sha256(output.read_bytes()).hexdigest(), result.stdout)
        return output

    def test_the_signature_verifies_against_the_ca_and_any_changed_byte_breaks_it(self):
        signed = self.signed()
        check = self.verify(signed)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertIn("Signature verification: ok", check.stdout)

        data = signed.read_bytes()
        pe = pefile.PE(data=data)
        sections = {s.Name.rstrip(b"\0").decode(): s for s in pe.sections}
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        places = {
            "code": sections[".text"].PointerToRawData + sections[".text"].SizeOfRawData // 2,
            "read-only data": sections[".rdata"].PointerToRawData + 64,
            "resources": sections[".rsrc"].PointerToRawData + sections[".rsrc"].SizeOfRawData - 16,
            "signature": security.VirtualAddress + security.Size // 2,
        }
        for place, offset in places.items():
            with self.subTest(place=place):
                changed = bytearray(data)
                changed[offset] ^= 0x01
                tampered = self.work / ("tampered-%s.exe" % place.replace(" ", "-"))
                tampered.write_bytes(changed)
                check = self.verify(tampered)
                self.assertNotEqual(check.returncode, 0, check.stdout)
                self.assertNotIn("Signature verification: ok", check.stdout)

    def test_an_rfc_3161_time_stamp_is_added_and_verifies(self):
        server = TimeStampServer(self.pki)
        self.addCleanup(server.stop)
        signed = self.signed(VANTILE_SIGN_TIMESTAMP_URL=server.url)
        self.assertEqual(server.requests, 1)
        check = self.verify(signed, "-TSA-CAfile", str(self.pki / "ca.crt"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", check.stdout)

    def test_removing_the_signature_gives_back_the_unsigned_build(self):
        # How a publisher compares a released (signed) file with a rebuild.
        signed = self.signed()
        self.assertNotEqual(signed.read_bytes(), self.unsigned.read_bytes())
        restored = self.work / "restored.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(restored)],
                       check=True, capture_output=True, timeout=120)
        self.assertEqual(restored.read_bytes(), self.unsigned.read_bytes())

    def test_signing_in_place(self):
        result = self.sign(self.unsigned)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.verify(self.unsigned).returncode, 0)

    def test_a_link_signs_its_target_and_a_folder_is_refused_before_any_work(self):
        link = self.work / "link.exe"
        link.symlink_to(self.unsigned.name)
        result = self.sign(link)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(link.is_symlink(), "the link was replaced")
        self.assertEqual(self.verify(self.unsigned).returncode, 0)

        folder = self.work / "folder.exe"
        folder.mkdir()
        variables, _ = self.fake_tools()
        for arguments in ((self.unsigned, folder), (folder,)):
            with self.subTest(arguments=[a.name for a in arguments]):
                result = self.sign(*arguments, FAKE_SIGN="fail", **variables)
                self.assertEqual(result.returncode, 2)
                self.assertIn("folder.exe is a folder", result.stderr)
                self.assertNotIn("Signed", result.stdout)
                self.assertNotIn("failed", result.stderr)  # osslsigncode never ran
                self.assertEqual(list(folder.iterdir()), [])

    def test_the_script_refuses_without_its_key_and_password(self):
        in_repository = harness.SOURCE_DIR / "vantile-signing-test.p12"
        cases = [
            ({"VANTILE_SIGN_PKCS12": None}, "VANTILE_SIGN_PKCS12 must name the PKCS#12 file"),
            ({"VANTILE_SIGN_PKCS12": str(self.work / "missing.p12")}, "missing.p12 does not exist"),
            ({"VANTILE_SIGN_PASSWORD": None}, "VANTILE_SIGN_PASSWORD must hold"),
            ({"VANTILE_SIGN_PASSWORD": "wrong password"}, "signing"),
            ({"VANTILE_SIGN_PKCS12": str(in_repository)}, "lies in the repository"),
        ]
        shutil.copyfile(self.pki / "signer.p12", in_repository)
        self.addCleanup(in_repository.unlink, True)
        before = self.unsigned.read_bytes()
        for variables, message in cases:
            with self.subTest(variables=variables):
                output = self.work / "refused.exe"
                result = self.sign(self.unsigned, output, **variables)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
                self.assertFalse(output.exists())
                self.assertEqual(self.unsigned.read_bytes(), before)

    def test_a_checkout_reached_through_a_link_still_refuses_a_key_inside_it(self):
        link = self.work / "checkout"
        link.symlink_to(harness.SOURCE_DIR, target_is_directory=True)
        in_repository = harness.SOURCE_DIR / "vantile-signing-test.p12"
        shutil.copyfile(self.pki / "signer.p12", in_repository)
        self.addCleanup(in_repository.unlink, True)
        for key in (in_repository, link / in_repository.name):
            with self.subTest(key=str(key)):
                output = self.work / "refused.exe"
                env = {name: value for name, value in os.environ.items()
                       if not name.startswith("VANTILE_SIGN_")}
                env.update(VANTILE_SIGN_PKCS12=str(key), VANTILE_SIGN_PASSWORD=PASSWORD)
                result = subprocess.run(["bash", str(link / "scripts" / "sign.sh"),
                                         str(self.unsigned), str(output)],
                                        env=env, capture_output=True, text=True, timeout=120)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("lies in the repository", result.stderr)
                self.assertFalse(output.exists())

    def fake_tools(self):
        """A PATH whose osslsigncode and git record what they see; the record's prefix."""
        bin_folder = self.work / "bin"
        bin_folder.mkdir()
        for name, text in (("osslsigncode", FAKE_OSSLSIGNCODE), ("git", FAKE_GIT)):
            (bin_folder / name).write_text(text)
            (bin_folder / name).chmod(0o755)
        record = self.work / "record"
        return {"PATH": "%s:%s" % (bin_folder, os.environ["PATH"]), "FAKE_SIGN_RECORD": str(record)}, record

    def test_the_password_reaches_osslsigncode_only_through_its_pipe(self):
        variables, record = self.fake_tools()
        # A key inside the (git-ignored) build folder makes the script ask git about it.
        key = harness.BUILD_DIR / "signing-key-for-test.p12"
        shutil.copyfile(self.pki / "signer.p12", key)
        self.addCleanup(key.unlink, True)
        result = self.sign(self.unsigned, self.work / "signed.exe", VANTILE_SIGN_PKCS12=str(key),
                           **variables)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(pathlib.Path(str(record) + ".password").read_text(), PASSWORD)
        for seen in (".arguments", ".environment", ".git-environment"):
            with self.subTest(seen=seen):
                self.assertNotIn(PASSWORD, pathlib.Path(str(record) + seen).read_text())

    def test_a_failed_signing_leaves_the_output_as_it_was(self):
        variables, _ = self.fake_tools()
        before = self.unsigned.read_bytes()
        for output in (self.unsigned, self.work / "other.exe"):
            with self.subTest(output=output.name):
                if output != self.unsigned:
                    output.write_bytes(b"the previous signed build")
                kept = output.read_bytes()
                result = self.sign(self.unsigned, output, FAKE_SIGN="fail", **variables)
                self.assertEqual(result.returncode, 2)
                self.assertIn("signing", result.stderr)
                self.assertEqual(output.read_bytes(), kept)
                self.assertEqual(self.unsigned.read_bytes(), before)
                # Nothing is left beside it.
                self.assertEqual(sorted(p.name for p in self.work.iterdir()
                                        if p.name.startswith(".vantile-signing")), [])

    def test_the_signed_program_installs_a_sample_release(self):
        signed = self.signed()
        folder = pathlib.Path(tempfile.mkdtemp(prefix="signed-install-", dir=harness.DRIVE_C))
        self.addCleanup(shutil.rmtree, folder, True)
        program = folder / "vantile-install.exe"
        shutil.copyfile(signed, program)
        archive = folder / "app-x64.zip"
        with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
            bundle.write(DOUBLES / "Vantile.exe", "Vantile.exe")
        data = archive.read_bytes()
        manifest = folder / "metadata.json"
        manifest.write_text(json.dumps({"desktop-windows-x64": {
            "version": "1.4.0", "url": "app-x64.zip", "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest()}}))
        record = folder / "record.txt"
        harness.clear_log()
        self.addCleanup(harness.remove_staging_folders)
        with harness.system_tar(DOUBLES / "tar.exe"):
            code = harness.run_installer(["--quiet"], exe=program, env={
                "VANTILE_INSTALL_MANIFEST": harness.windows_path(manifest),
                "VANTILE_TEST_RECORD": harness.windows_path(record)})
        self.assertEqual(code, 0, harness.read_log())
        self.assertEqual(harness.read_log()[-1], INSTALLED)
        self.assertTrue(record.exists(), "the app's installer did not run")
        self.assertEqual(harness.staging_folders(), [])


if __name__ == "__main__":
    unittest.main()
