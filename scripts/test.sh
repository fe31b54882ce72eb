#!/usr/bin/env bash
# The README's test command: set-up, both builds, then every test through CTest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --preset mingw >/dev/null
cmake --build --preset mingw
# The publisher's build of vantile-release, installed as the README says.
cmake --preset publisher >/dev/null
cmake --build --preset publisher

status=0
ctest --preset native || status=1
ctest --preset fuzz || status=1
scripts/with-test-ca.sh ctest --preset mingw || status=1
prefix="$(mktemp -d)"
cmake --install build/publisher --prefix "$prefix" >/dev/null &&
  "$prefix/bin/vantile-release" --version || status=1
rm -rf "$prefix"
exit $status
