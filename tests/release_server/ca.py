"""The test certificate authority and the server certificates it issues, made with the
openssl command-line tool.

scripts/with-test-ca.sh makes one CA per test run (make_ca) in the build folder, adds it to
the CA bundle that Wine reads, and names its folder in VANTILE_TEST_CA_DIR. Each release
server then issues its own certificates from it when it starts (issue_server_certificate).
"""
import os
import pathlib
import subprocess
import tempfile

CA_DIR_VARIABLE = "VANTILE_TEST_CA_DIR"

KEY_OPTIONS = ["-newkey", "rsa:2048", "-nodes"]


class CertificateError(RuntimeError):
    pass


def _openssl(*args, cwd=None):
    result = subprocess.run(["openssl", *args], cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise CertificateError("openssl %s failed: %s" % (args[0], result.stderr.strip()))
    return result.stdout


class CertificateAuthority:
    """A CA's certificate and key on disk."""

    def __init__(self, directory):
        self.directory = pathlib.Path(directory)
        self.certificate = self.directory / "ca.crt"
        self.key = self.directory / "ca.key"

    def exists(self):
        return self.certificate.is_file() and self.key.is_file()


def make_ca(directory, common_name="Vantile Test CA"):
    """Creates a CA (key and self-signed certificate, valid for two days) in directory."""
    ca = CertificateAuthority(directory)
    ca.directory.mkdir(parents=True, exist_ok=True)
    # Each CA gets a distinct subject, so that a CA of an earlier run is never mistaken
    # for this one by anything that matches issuers by name.
    subject = "/O=Vantile tests/CN=%s %s" % (common_name, os.urandom(6).hex())
    _openssl("req", "-x509", *KEY_OPTIONS, "-keyout", str(ca.key), "-out", str(ca.certificate),
             "-days", "2", "-subj", subject, "-sha256",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             "-addext", "subjectKeyIdentifier=hash")
    os.chmod(ca.key, 0o600)
    return ca


def issue_server_certificate(ca, directory, names, stem="server"):
    """Issues a TLS server certificate for the DNS names; returns (certificate, key) paths.

    The certificate file holds the leaf only: the CA is what the client must already trust.
    """
    directory = pathlib.Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    key = directory / (stem + ".key")
    request = directory / (stem + ".csr")
    certificate = directory / (stem + ".crt")
    _openssl("req", "-new", *KEY_OPTIONS, "-keyout", str(key), "-out", str(request),
             "-subj", "/O=Vantile tests/CN=%s" % names[0])
    with tempfile.NamedTemporaryFile("w", suffix=".ext", dir=directory, delete=False) as ext:
        ext.write("basicConstraints=critical,CA:FALSE\n")
        ext.write("keyUsage=critical,digitalSignature,keyEncipherment\n")
        ext.write("extendedKeyUsage=serverAuth\n")
        ext.write("subjectAltName=%s\n" % ",".join("DNS:" + name for name in names))
        ext.write("authorityKeyIdentifier=keyid\n")
    try:
        _openssl("x509", "-req", "-in", str(request), "-CA", str(ca.certificate),
                 "-CAkey", str(ca.key),
                 "-set_serial", "0x" + os.urandom(16).hex(), "-out", str(certificate),
                 "-days", "2", "-sha256", "-extfile", ext.name)
    finally:
        os.unlink(ext.name)
        request.unlink(missing_ok=True)
    os.chmod(key, 0o600)
    return certificate, key


def run_ca():
    """The CA of this test run, as scripts/with-test-ca.sh made it."""
    directory = os.environ.get(CA_DIR_VARIABLE)
    if not directory:
        raise CertificateError(
            "%s is not set: run the tests through scripts/with-test-ca.sh, which makes the "
            "test CA and lets Wine trust it" % CA_DIR_VARIABLE)
    ca = CertificateAuthority(directory)
    if not ca.exists():
        raise CertificateError("no test CA in %s" % directory)
    return ca
