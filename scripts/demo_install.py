"""Installs a sample release with the real vantile-install.exe under Wine, with no override:
the program reads its fixed manifest address, and the local release server answers for the
release hosts through a CONNECT proxy. Run through scripts/demo.sh."""
import argparse
import pathlib
import shutil
import subprocess
import sys
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "wine")]

import harness  # noqa: E402
from release_server import ReleaseServer, build_sample_release  # noqa: E402

DEMO_DIR = harness.BUILD_DIR / "demo"
DOUBLES = harness.SUPPORT_DIR / "doubles"
ARCHIVE_SECONDS = 4


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quiet", action="store_true", help="run with --quiet, no window")
    options = parser.parse_args()

    shutil.rmtree(DEMO_DIR, ignore_errors=True)
    release_dir = DEMO_DIR / "release"
    release = build_sample_release(release_dir, DOUBLES / "Vantile.exe")
    record = DEMO_DIR / "vantile-exe-saw.txt"
    print(f"demo: sample release {release.version} at {release_dir}")
    print(f"demo: build address {release.url} ({release.size} bytes, sha256 {release.sha256})")

    harness.clear_log()
    with harness.system_tar(DOUBLES / "tar.exe"), ReleaseServer(release_dir) as server:
        env = {"http_proxy": server.proxy_url, "VANTILE_TEST_RECORD": harness.windows_path(record)}
        if options.quiet:
            code = harness.run_installer(["--quiet"], env=env)
        else:
            import window_demo  # noqa: E402

            # A fresh wineserver, so that Wine's desktop starts on the demo's own display and
            # not on one that an earlier run left behind.
            subprocess.run(["wineserver", "-k"], env=harness.wine_env(), check=False)
            # A slow archive keeps the download on screen long enough to be seen.
            server.set_fault(urllib.parse.urlsplit(release.url).path,
                             rate=max(1, release.size // ARCHIVE_SECONDS))
            code = window_demo.run_with_screenshots(env, DEMO_DIR / "screenshots")
        requests = [f"{r.method} https://{r.host}{r.path} ({r.user_agent})" for r in server.requests]

    print("\ndemo: requests the release server answered:")
    for line in requests:
        print("  " + line)
    print(f"\ndemo: the log ({harness.LOG_PATH}):")
    sys.stdout.write(harness.read_log_raw().decode("utf-8"))
    print(f"\ndemo: exit code {code}")
    print("demo: what the sample app's installer (Vantile.exe) saw:")
    if record.exists():
        sys.stdout.write(record.read_text(encoding="utf-8", errors="replace"))
    else:
        print("  (it did not run)")
    print(f"demo: staging folders left: {harness.staging_folders() or 'none'}")
    return code


if __name__ == "__main__":
    sys.exit(main())
