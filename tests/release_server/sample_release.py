"""Builds a release folder the release server can serve: a zip archive that holds a
Vantile.exe at its top (the test double, or any program given), and the manifest that
names it with its true size and SHA-256 digest, made by the project's own
`vantile-release make` (the native build's), so that every run exercises it."""
import hashlib
import json
import os
import pathlib
import subprocess
import zipfile

from .server import STORAGE_HOST, CDN_HOST, STORAGE_PREFIX, CDN_PREFIX

DEFAULT_VERSION = "1.4.0"
DEFAULT_ARCHIVE = "vantile-desktop-1.4.0-win32-x64.zip"


class SampleRelease:
    """What build_sample_release made."""

    def __init__(self, release_dir, archive, url, size, sha256, version, manifest):
        self.release_dir = release_dir
        self.archive = archive          # path of the zip archive
        self.url = url                  # the build's address in the manifest
        self.size = size
        self.sha256 = sha256
        self.version = version
        self.manifest = manifest        # path of metadata.json

    @property
    def archive_bytes(self):
        return self.archive.read_bytes()


def file_digest(path):
    digest = hashlib.sha256()
    size = 0
    with open(path, "rb") as source:
        while True:
            block = source.read(1 << 20)
            if not block:
                break
            digest.update(block)
            size += len(block)
    return size, digest.hexdigest()


def release_tool():
    """The native vantile-release: VANTILE_RELEASE_TOOL, or the native build's."""
    source = pathlib.Path(os.environ.get("VANTILE_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
    tool = pathlib.Path(os.environ.get("VANTILE_RELEASE_TOOL", source / "build" / "native" / "vantile-release"))
    if not tool.is_file():
        raise FileNotFoundError("%s is missing: build it with "
                                "`cmake --preset native && cmake --build --preset native "
                                "--target vantile-release`" % tool)
    return tool


def make_manifest(manifest, version, x64_archive, arm64_archive=None, base=None):
    """Runs `vantile-release make` for the archives; base None makes a local manifest.
    Returns what it printed; a refusal raises RuntimeError with its message."""
    command = [str(release_tool()), "make", "--version", version, "--x64", str(x64_archive),
               "--out", str(manifest)]
    if arm64_archive is not None:
        command += ["--arm64", str(arm64_archive)]
    command += ["--base", base] if base is not None else ["--local"]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("vantile-release make failed (%d): %s%s"
                           % (result.returncode, result.stderr, result.stdout))
    return result.stdout


def build_url(name, host="storage"):
    """The trusted address of a file in the release folder, on either release host."""
    if host == "storage":
        return "https://%s%s%s" % (STORAGE_HOST, STORAGE_PREFIX, name)
    if host == "cdn":
        return "https://%s%s%s" % (CDN_HOST, CDN_PREFIX, name)
    raise ValueError("host is 'storage' or 'cdn'")


def write_manifest(release_dir, entry, name="metadata.json", extra=None):
    """Writes a manifest whose "desktop-windows-x64" member is the given entry."""
    document = {"desktop-windows-x64": entry}
    document.update(extra or {})
    path = pathlib.Path(release_dir) / name
    path.write_text(json.dumps(document, indent=2) + "\n", encoding="utf-8")
    return path


def build_sample_release(release_dir, exe_path, version=DEFAULT_VERSION,
                         archive_name=DEFAULT_ARCHIVE, host="storage", padding=0,
                         manifest_overrides=None, manifest_name="metadata.json"):
    """Builds the archive (Vantile.exe from exe_path, plus `padding` bytes of incompressible
    filler stored in padding.bin when asked) and its manifest in release_dir.

    manifest_overrides replaces members of the build entry (for example {"size": 0});
    the returned SampleRelease keeps the archive's true size and digest.
    """
    release_dir = pathlib.Path(release_dir)
    release_dir.mkdir(parents=True, exist_ok=True)
    archive = release_dir / archive_name
    with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED) as bundle:
        bundle.write(exe_path, "Vantile.exe")
        if padding:
            with bundle.open(zipfile.ZipInfo("padding.bin"), "w", force_zip64=padding >= 1 << 31) as out:
                remaining = padding
                while remaining:
                    block = os.urandom(min(remaining, 1 << 20))
                    out.write(block)
                    remaining -= len(block)
    manifest = release_dir / manifest_name
    make_manifest(manifest, version, archive, base=build_url("", host))
    document = json.loads(manifest.read_text(encoding="utf-8"))
    entry = document["desktop-windows-x64"]
    size, sha256, url = entry["size"], entry["sha256"], entry["url"]
    if manifest_overrides:
        # A deliberately broken manifest: the tool refuses to make one, so it is edited here.
        entry.update(manifest_overrides)
        manifest = write_manifest(release_dir, entry, manifest_name)
    return SampleRelease(release_dir, archive, url, size, sha256, version, manifest)
