#!/usr/bin/env bash
# The README's run command: a real install of a sample release under Wine, served by the
# project's local https release server. Set-up and build are part of it.
#   scripts/demo.sh            the installer's window under a virtual display, with screenshots
#   scripts/demo.sh --quiet    the same install with --quiet
#   scripts/demo.sh --pictures refreshes the README's pictures of the window in docs/
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh
# vantile-release (native) makes and checks the sample release's manifest.
cmake --preset native >/dev/null
cmake --build --preset native --target vantile-release
cmake --preset mingw >/dev/null
cmake --build --preset mingw
exec scripts/with-test-ca.sh /usr/bin/python3 scripts/demo_install.py "$@"
