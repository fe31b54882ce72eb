#!/usr/bin/env python3
"""Downloading and verifying a 512 MiB archive: the installer under Wine against curl plus
`openssl dgst -sha256` natively, both from the same local release server through the same
proxy, in the same run. Prints the ratio and where the installer's time goes.

    /usr/bin/python3 tests/bench/download_throughput.py [--size-mib N] [--repeat N] [--pairs N]

The installer's figure is the time between its log lines "Downloading Vantile…" and
"Unpacking Vantile…" (trust check, staging folder, download, hashing and verification).
fetch_tool.exe (download_to_file alone) and sha256_file_tool.exe (sha256_of_file alone)
split that time into its download and its hashing. The same run measures the reference for
download_to_file: fetch_tool.exe's plain mode makes the same WinINet calls and file writes in a
plain loop on one thread; download_to_file's throughput is printed as a ratio of it (the
target is 0.95 or more). The two run in pairs (--pairs, the order changing from pair to pair,
each into a new file), because the shared machine's speed drifts more between minutes than the
difference sought: the ratio of the best of each, and the median of the pairs' ratios. Big files
live in the build folder and are deleted afterwards.
"""
import argparse
import shutil
import statistics
import subprocess
import sys
import time

from download_bench_support import (MIB, ReleaseServer, build_release, harness, log_times,
                                    prepare_prefix, proxy_env, seconds_between, work_folder)


# download_to_file and its reference, each timed inside fetch_tool.exe (without Wine's start-up).
OURS = "wine: download_to_file, inside the tool"
REFERENCE = "wine: plain WinINet loop (reference), inside the tool"


def timed(command, env=None):
    started = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - started
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
    return elapsed, result.stdout.decode(errors="replace")


def reported_seconds(report):
    """The time fetch_tool measured around the call itself, without Wine's start-up."""
    for line in report.read_text().splitlines():
        if line.startswith("seconds: "):
            return float(line.split(": ", 1)[1])
    raise RuntimeError("no time in " + report.read_text())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=512)
    parser.add_argument("--repeat", type=int, default=2, help="best of N for each figure")
    parser.add_argument("--pairs", type=int, default=6,
                        help="download_to_file and the plain loop, run side by side N times")
    args = parser.parse_args()

    folder = work_folder("bench-download-throughput")
    tar = prepare_prefix()
    support = harness.SUPPORT_DIR
    try:
        release = build_release(folder / "release", args.size_mib * MIB)
        native_copy = folder / "curl.zip"
        wine_copy = folder / "fetch.zip"
        best = {}
        pairs = []

        def keep(name, seconds):
            best[name] = min(best.get(name, seconds), seconds)

        with ReleaseServer(folder / "release") as server:
            env = harness.wine_env(proxy_env(server, folder / "record.txt"))

            def fetch_tool_seconds(mode):
                """fetch_tool.exe in that mode into a new file: the time it measured inside."""
                wine_copy.unlink(missing_ok=True)
                timed(harness.wine_command(support / "fetch_tool.exe", [
                    mode, release.url, harness.windows_path(wine_copy),
                    harness.windows_path(folder / "report.txt")]), env)
                return reported_seconds(folder / "report.txt")

            for _ in range(args.repeat):
                harness.clear_log()
                started = time.monotonic()
                code = harness.run_installer(["--quiet"], env=proxy_env(server, folder / "record.txt"),
                                             timeout=1800)
                whole = time.monotonic() - started
                if code != 0:
                    print("the install failed (exit %d):\n%s" % (code, "\n".join(harness.read_log())))
                    return 1
                times = log_times()
                keep("installer: download and verify",
                     seconds_between(times, "Downloading Vantile", "Unpacking Vantile"))
                keep("installer: unpack (tar.exe double)",
                     seconds_between(times, "Unpacking Vantile", "Installing Vantile"))
                keep("installer: whole run", whole)

                keep("wine: start a program (tiny fetch)", timed(
                    harness.wine_command(support / "fetch_tool.exe", [
                        "fetch", server.manifest_url, harness.windows_path(folder / "manifest.json"),
                        harness.windows_path(folder / "report.txt")]), env)[0])
                wine_copy.unlink(missing_ok=True)
                keep("wine: download_to_file alone", timed(
                    harness.wine_command(support / "fetch_tool.exe", [
                        "download", release.url, harness.windows_path(wine_copy),
                        harness.windows_path(folder / "report.txt")]), env)[0])
                keep("wine: sha256_of_file alone", timed(
                    harness.wine_command(support / "sha256_file_tool.exe", [
                        harness.windows_path(wine_copy),
                        harness.windows_path(folder / "report.txt")]), env)[0])
                wine_copy.unlink(missing_ok=True)

                keep("native: curl download", timed(
                    ["curl", "-sS", "--fail", "--proxy", server.proxy_url, "--cacert",
                     str(server.ca_file), "-o", str(native_copy), release.url])[0])
                seconds, output = timed(["openssl", "dgst", "-sha256", str(native_copy)])
                if release.sha256 not in output:
                    raise RuntimeError("curl's copy has the wrong digest: " + output)
                keep("native: openssl dgst -sha256", seconds)
                native_copy.unlink(missing_ok=True)

            for pair in range(args.pairs):
                modes = ("download", "plain") if pair % 2 == 0 else ("plain", "download")
                seconds = {mode: fetch_tool_seconds(mode) for mode in modes}
                pairs.append(seconds)
                keep(OURS, seconds["download"])
                keep(REFERENCE, seconds["plain"])
            wine_copy.unlink(missing_ok=True)
    finally:
        tar.__exit__(None, None, None)
        harness.remove_staging_folders()
        shutil.rmtree(folder, ignore_errors=True)

    size = args.size_mib * MIB
    print("archive: %d MiB, best of %d" % (args.size_mib, args.repeat))
    for name, seconds in best.items():
        print("  %-40s %6.2f s  %7.1f MiB/s" % (name, seconds, size / MIB / seconds if seconds else 0))
    installer = best["installer: download and verify"]
    peer = best["native: curl download"] + best["native: openssl dgst -sha256"]
    print("installer download+verify %.2f s vs curl+openssl %.2f s: ratio %.2f"
          % (installer, peer, installer / peer))
    reference = best[REFERENCE]
    ours = best[OURS]
    paired = sorted(seconds["plain"] / seconds["download"] for seconds in pairs)
    print("download_to_file %.1f MiB/s vs the plain WinINet loop %.1f MiB/s: throughput ratio %.3f"
          " (target 0.95 or more)" % (size / MIB / ours, size / MIB / reference, reference / ours))
    print("the %d pairs' throughput ratios: %s; median %.3f"
          % (len(paired), " ".join("%.3f" % ratio for ratio in paired), statistics.median(paired)))
    start = best["wine: start a program (tiny fetch)"]
    print("where the installer's time goes (estimates): download %.2f s, hashing %.2f s"
          % (best["wine: download_to_file alone"] - start, best["wine: sha256_of_file alone"] - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
