#!/usr/bin/env python3
"""Peak memory of the installer while it downloads a 32 MiB and a 512 MiB archive from the
local release server under Wine: the archive is streamed to disk through one buffer, so the
two peaks must not differ by more than 2 MiB.

    /usr/bin/python3 tests/bench/download_memory.py [--sizes-mib 32,512]
                                                        (VANTILE_BUILD_DIR, VANTILE_WINEPREFIX)

The peak is VmHWM of the installer's Wine process, read from /proc every few milliseconds
while it runs. The big files live in the build folder and are deleted afterwards.
"""
import argparse
import shutil
import sys

from download_bench_support import (MIB, ReleaseServer, build_release, harness, prepare_prefix,
                                    proxy_env, run_installer_watched, work_folder)

ALLOWED_DIFFERENCE = 2 * MIB


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes-mib", default="32,512", help="the smaller and the larger archive")
    args = parser.parse_args()
    sizes = [int(text) * MIB for text in args.sizes_mib.split(",")]
    folder = work_folder("bench-download-memory")
    tar = prepare_prefix()
    peaks = {}
    try:
        for size in sizes:
            release_dir = folder / ("release-%d" % (size // MIB))
            release = build_release(release_dir, size)
            with ReleaseServer(release_dir) as server:
                harness.clear_log()
                code, peak, seconds = run_installer_watched(proxy_env(server, folder / "record.txt"))
            if code != 0:
                print("the install of the %d MiB archive failed (exit %d):" % (size // MIB, code))
                print("\n".join(harness.read_log()))
                return 1
            peaks[size] = peak
            print("%4d MiB archive (%d bytes): peak resident memory %.2f MiB, %.1f s"
                  % (size // MIB, release.size, peak / MIB, seconds))
            shutil.rmtree(release_dir, ignore_errors=True)
    finally:
        tar.__exit__(None, None, None)
        harness.remove_staging_folders()
        shutil.rmtree(folder, ignore_errors=True)

    difference = peaks[sizes[-1]] - peaks[sizes[0]]
    print("difference: %+.2f MiB (allowed: %.0f MiB)" % (difference / MIB, ALLOWED_DIFFERENCE / MIB))
    return 0 if abs(difference) <= ALLOWED_DIFFERENCE else 1


if __name__ == "__main__":
    sys.exit(main())
