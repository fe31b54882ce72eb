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

status=0
ctest --preset native || status=1
ctest --preset fuzz || status=1
scripts/with-test-ca.sh ctest --preset mingw || status=1
exit $status
