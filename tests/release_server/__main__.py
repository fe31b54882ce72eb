"""Command line for the demo, the benchmarks and scripts/with-test-ca.sh.

    python3 -m release_server make-ca DIR
    python3 -m release_server sample-release DIR EXE [--padding BYTES] [--host storage|cdn]
    python3 -m release_server serve DIR [--faults FILE] [--tls MODE]

(run with tests/ on PYTHONPATH). `serve` prints one JSON line with proxy_url, port and
ca_file, then serves until it is interrupted or terminated. With --faults, FILE holds a JSON
object {path: {fault settings}} that is read again whenever it changes.
"""
import argparse
import json
import os
import signal
import sys
import threading

from . import ca as test_ca
from .sample_release import build_sample_release
from .server import ReleaseServer


def _watch_faults(server, path, stop):
    seen = None
    while not stop.wait(0.2):
        try:
            stamp = os.stat(path).st_mtime_ns
        except OSError:
            continue
        if stamp == seen:
            continue
        seen = stamp
        try:
            with open(path, encoding="utf-8") as source:
                faults = json.load(source)
        except (OSError, ValueError) as error:
            print("release_server: cannot read %s: %s" % (path, error), file=sys.stderr)
            continue
        server.clear_fault()
        for fault_path, settings in faults.items():
            server.set_fault(fault_path, **settings)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="release_server")
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("make-ca", help="create a test CA in DIR")
    make.add_argument("directory")
    sample = commands.add_parser("sample-release", help="build a release folder")
    sample.add_argument("directory")
    sample.add_argument("exe", help="the program to pack as Vantile.exe")
    sample.add_argument("--padding", type=int, default=0)
    sample.add_argument("--host", choices=("storage", "cdn"), default="storage")
    serve = commands.add_parser("serve", help="serve a release folder until stopped")
    serve.add_argument("directory")
    serve.add_argument("--faults")
    serve.add_argument("--tls", choices=("ok", "wrong_host", "unknown_ca"), default="ok")
    args = parser.parse_args(argv)

    if args.command == "make-ca":
        ca = test_ca.make_ca(args.directory)
        print(ca.certificate)
        return 0
    if args.command == "sample-release":
        release = build_sample_release(args.directory, args.exe, padding=args.padding,
                                       host=args.host)
        print(json.dumps({"archive": str(release.archive), "url": release.url,
                          "size": release.size, "sha256": release.sha256,
                          "manifest": str(release.manifest)}))
        return 0

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    with ReleaseServer(args.directory) as server:
        server.set_tls(args.tls)
        if args.faults:
            threading.Thread(target=_watch_faults, args=(server, args.faults, stop),
                             daemon=True).start()
        print(json.dumps({"proxy_url": server.proxy_url, "port": server.port(),
                          "ca_file": str(server.ca_file), "manifest_url": server.manifest_url}),
              flush=True)
        while not stop.wait(1):
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
