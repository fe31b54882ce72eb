"""How long `vantile-release check https://...` takes for a large archive, next to curl fetching
the same archive through the same proxy plus sha256sum hashing it: the ratio of the two, best of
each over a few runs. Not a test: no time is asserted (tests/online runs it once, tiny).

    scripts/with-test-ca.sh unshare --net bash -c 'ip link set lo up &&
        python3 tests/bench/live_check_bench.py --mib 200'
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

TESTS = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TESTS))
sys.path.insert(0, str(TESTS / "online"))
from live_check_fixture import ARCHIVE_NAME, DEFAULT_MANIFEST, TOOL  # noqa: E402
from release_server import ReleaseServer, build_sample_release  # noqa: E402


def timed(command, env):
    start = time.perf_counter()
    subprocess.run(command, check=True, env=env, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=float, default=200)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory(prefix="live-bench-") as work:
        work = pathlib.Path(work)
        exe = work / "Vantile.exe"
        exe.write_bytes(b"MZ stand-in")
        release = build_sample_release(work / "release", exe, archive_name=ARCHIVE_NAME,
                                       padding=int(args.mib * (1 << 20)))
        with ReleaseServer(work / "release") as server:
            env = dict(os.environ, https_proxy=server.proxy_url)
            ca = ["--ca-file", str(server.ca_file)]
            fetched = work / "fetched.zip"
            check = [str(TOOL), "check", DEFAULT_MANIFEST, *ca]
            peer = ["sh", "-c", 'curl -sS --fail --cacert "$1" -o "$2" "$3" && sha256sum "$2"',
                    "peer", str(server.ca_file), str(fetched), release.url]
            ours, theirs = [], []
            for _ in range(args.runs):
                ours.append(timed(check, env))
                theirs.append(timed(peer, env))
    best_ours, best_theirs = min(ours), min(theirs)
    print("archive: %d bytes" % release.size)
    print("vantile-release check (manifest + archive + unpacking judgement): %.2f s" % best_ours)
    print("curl fetching the archive + sha256sum: %.2f s" % best_theirs)
    print("ratio (check / curl + sha256sum): %.2f" % (best_ours / best_theirs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
