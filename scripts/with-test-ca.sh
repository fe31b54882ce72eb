#!/usr/bin/env bash
# Runs a command in a private mount namespace in which the CA bundle that Wine (and curl,
# and openssl) trust also holds a test CA made for this run. The machine's own trust store
# is never changed: the bundle is bind-mounted over it inside the namespace only.
#
#   scripts/with-test-ca.sh ctest --preset mingw
#
# The CA lives in $VANTILE_TEST_CA_DIR (default build/test-ca), made fresh on every run; the
# release server (tests/release_server) reads it from there to issue its certificates.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
system_bundle=/etc/ssl/certs/ca-certificates.crt

ca_dir="${VANTILE_TEST_CA_DIR:-$root/build/test-ca}"
mkdir -p "$(dirname "$ca_dir")"
ca_dir="$(cd "$(dirname "$ca_dir")" && pwd)/$(basename "$ca_dir")"
rm -rf "$ca_dir"
mkdir -p "$ca_dir"
PYTHONPATH="$root/tests${PYTHONPATH:+:$PYTHONPATH}" /usr/bin/python3 -m release_server make-ca "$ca_dir" >/dev/null

# The bundle seen inside the namespace: the system's own CAs plus this run's.
if [ -f "$system_bundle" ]; then
  cat "$system_bundle" "$ca_dir/ca.crt" >"$ca_dir/bundle.crt"
else
  echo "with-test-ca: $system_bundle is missing (install ca-certificates)" >&2
  exit 1
fi

# Wine copies the roots it finds in the bundle into a volatile registry key of the prefix
# (HKLM\Software\Microsoft\SystemCertificates\Root\Certificates), keeps them there for as
# long as the prefix's wineserver runs, and never drops one that has left the bundle: a CA of
# an earlier run would stay trusted. Empty that copy; the first program of this run fills it
# again from the bundle below.
prefix="${VANTILE_WINEPREFIX:-$root/build/wine-prefix}"
if [ -f "$prefix/system.reg" ] && command -v wine >/dev/null; then
  VANTILE_WINEPREFIX="$prefix" "$root/scripts/wine-run" \
    reg delete 'HKLM\Software\Microsoft\SystemCertificates\Root\Certificates' /f \
    >/dev/null 2>&1 || true
fi

export VANTILE_TEST_CA_DIR="$ca_dir"
exec unshare --mount --propagation private -- /bin/bash -c '
  mount --bind "$VANTILE_TEST_CA_DIR/bundle.crt" /etc/ssl/certs/ca-certificates.crt
  exec "$@"' with-test-ca "$@"
