"""The local https release server, its CONNECT proxy and the test CA, for the tests, the
benchmarks and the demo. Python standard library only (plus the openssl command)."""
from .ca import CertificateAuthority, CertificateError, make_ca, issue_server_certificate, run_ca
from .sample_release import (SampleRelease, build_sample_release, build_url, file_digest,
                             make_manifest, release_tool, write_manifest)
from .server import (CDN_HOST, CDN_PREFIX, MANIFEST_PATH, STORAGE_HOST, STORAGE_PREFIX,
                     ConnectRecord, ReleaseServer, RequestRecord)

__all__ = [
    "CertificateAuthority", "CertificateError", "make_ca", "issue_server_certificate", "run_ca",
    "SampleRelease", "build_sample_release", "build_url", "file_digest", "make_manifest",
    "release_tool", "write_manifest",
    "CDN_HOST", "CDN_PREFIX", "MANIFEST_PATH", "STORAGE_HOST", "STORAGE_PREFIX",
    "ConnectRecord", "ReleaseServer", "RequestRecord",
]
