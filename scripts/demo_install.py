"""Installs a sample release with the real vantile-install.exe under Wine, with no override:
the program reads its fixed manifest address, and the local release server answers for the
release hosts through a CONNECT proxy. The sample's manifest is made and checked by
vantile-release. Run through scripts/demo.sh; with --pictures it refreshes the README's
pictures of the window in docs/."""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "wine")]

import harness  # noqa: E402
import window_support as ws  # noqa: E402
from release_server import ReleaseServer, build_sample_release, release_tool  # noqa: E402

DEMO_DIR = harness.BUILD_DIR / "demo"
DOCS_DIR = ROOT / "docs"
DOUBLES = harness.SUPPORT_DIR / "doubles"
ARCHIVE_SECONDS = 4
# Incompressible filler, so the download has a size worth watching.
PICTURE_PADDING = 1_500_000


def check_release(release):
    """What vantile-release says about the sample release; the demo stops if it would not
    install on both kinds of computer."""
    command = [str(release_tool()), "check", str(release.manifest), "--files",
               str(release.release_dir)]
    print("demo: " + " ".join(command))
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    sys.stdout.write("".join("  " + line + "\n" for line in result.stdout.splitlines()))
    print(f"demo: vantile-release check exit code {result.returncode}")
    if result.returncode != 0:
        raise SystemExit("demo: the sample release would not install; stopping")


def check_live_release(release):
    """What vantile-release says of the sample release as the release server serves it (the
    live check, through the server's proxy); the demo stops if it would not install."""
    with ReleaseServer(release.release_dir) as server:
        command = [str(release_tool()), "check", server.manifest_url, "--ca-file",
                   str(server.ca_file)]
        print(f"demo: https_proxy={server.proxy_url} " + " ".join(command))
        env = {name: value for name, value in os.environ.items()
               if name.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, env=dict(env, https_proxy=server.proxy_url))
    sys.stdout.write("".join("  " + line + "\n" for line in result.stdout.splitlines()))
    sys.stdout.write("".join("  " + line + "\n" for line in result.stderr.splitlines()))
    print(f"demo: vantile-release check (live) exit code {result.returncode}")
    if result.returncode != 0:
        raise SystemExit("demo: the sample release as served would not install; stopping")


def window_run(release, env, folder, dpi=None, fault=None, look=None):
    """One install in window mode through a fresh release server; returns (code, captures,
    requests)."""
    import window_demo  # noqa: E402

    with ReleaseServer(release.release_dir) as server:
        env = dict(env, http_proxy=server.proxy_url)
        # A fresh wineserver, so that Wine's desktop starts on the demo's own display and
        # not on one that an earlier run left behind.
        subprocess.run(["wineserver", "-k"], env=harness.wine_env(), check=False)
        # A slow archive keeps the download on screen long enough to be seen.
        settings = {"rate": max(1, release.size // ARCHIVE_SECONDS)}
        settings.update(fault or {})
        server.set_fault(urllib.parse.urlsplit(release.url).path, **settings)
        code, captures = window_demo.run_with_screenshots(env, folder, dpi=dpi, look=look)
        requests = [f"{r.method} https://{r.host}{r.path} ({r.user_agent})" for r in server.requests]
    return code, captures, requests


def downloading(captures):
    """The picture of the download nearest to half-way."""
    shown = [c for c in captures if c.status == "Downloading Vantile\u2026" and not c.showing_result]
    if not shown:
        raise SystemExit("demo: no picture of the download was taken: %r" % captures)
    return min(shown, key=lambda c: abs(c.progress_fraction - 0.5))


def failure(captures):
    shown = [c for c in captures if c.showing_result and c.state.try_again.visible]
    if not shown:
        raise SystemExit("demo: no picture of the failure with Try again was taken: %r" % captures)
    return shown[-1]


def make_pictures(release, env):
    """The README's pictures, made by this demo's own window code."""
    DOCS_DIR.mkdir(exist_ok=True)
    pictures = DEMO_DIR / "pictures"
    runs = [
        ("window-downloading.png", {}, downloading),
        ("window-downloading-144-dpi.png", {"dpi": 144}, downloading),
        # The connection drops mid-way on every try: the window ends on the failure.
        ("window-failure.png", {"fault": {"reset_after": release.size // 3}}, failure),
        # The same failure in a high-contrast scheme, and with the message font at 200 %.
        ("window-high-contrast.png", {"fault": {"reset_after": release.size // 3},
                                      "look": lambda _: ws.HIGH_CONTRAST}, failure),
        ("window-large-text-200.png", {"fault": {"reset_after": release.size // 3},
                                       "look": lambda display: ws.message_font_at(display, 200)},
         failure),
    ]
    for name, settings, pick in runs:
        code, captures, _ = window_run(release, env, pictures / name.removesuffix(".png"), **settings)
        chosen = pick(captures)
        shutil.copyfile(chosen.path, DOCS_DIR / name)
        print(f"demo: {DOCS_DIR / name} from {chosen.path.name} (exit code {code})")
    return 0


def main():
    parser = argparse.ArgumentParser()
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--quiet", action="store_true", help="run with --quiet, no window")
    mode.add_argument("--pictures", action="store_true",
                      help="refresh the pictures of the window in docs/")
    options = parser.parse_args()

    shutil.rmtree(DEMO_DIR, ignore_errors=True)
    release_dir = DEMO_DIR / "release"
    release = build_sample_release(release_dir, DOUBLES / "Vantile.exe",
                                   padding=PICTURE_PADDING if options.pictures else 0)
    record = DEMO_DIR / "vantile-exe-saw.txt"
    print(f"demo: sample release {release.version} at {release_dir}")
    print(f"demo: build address {release.url} ({release.size} bytes, sha256 {release.sha256})")
    check_release(release)
    check_live_release(release)

    harness.clear_log()
    env = {"VANTILE_TEST_RECORD": harness.windows_path(record)}
    with harness.system_tar(DOUBLES / "tar.exe"):
        if options.pictures:
            return make_pictures(release, env)
        if options.quiet:
            with ReleaseServer(release_dir) as server:
                code = harness.run_installer(["--quiet"], env=dict(env, http_proxy=server.proxy_url))
                requests = [f"{r.method} https://{r.host}{r.path} ({r.user_agent})"
                            for r in server.requests]
        else:
            code, _, requests = window_run(release, env, DEMO_DIR / "screenshots")

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
