#!/usr/bin/env bash
# Signs a release build of the installer with Authenticode (osslsigncode, SHA-256).
#
#   VANTILE_SIGN_PKCS12=/secure/place/code-signing.p12 \
#   VANTILE_SIGN_PASSWORD=... \
#   VANTILE_SIGN_TIMESTAMP_URL=http://timestamp.example.com \
#     scripts/sign.sh build/mingw/vantile-install.exe [signed.exe]
#
# The certificate and its key come from the PKCS#12 file, which must lie outside the
# repository (or in a folder git ignores, such as build/): no key is ever committed. The
# password reaches osslsigncode through a pipe, never on its command line. The RFC 3161
# time-stamp server is optional; with it, the signature stays valid after the certificate
# expires. Without an output name the file is signed in place. Prints the signed file's SHA-256.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

fail() {
  echo "sign.sh: $*" >&2
  exit 2
}

[ $# -ge 1 ] && [ $# -le 2 ] || fail "usage: scripts/sign.sh PROGRAM.exe [SIGNED.exe]"
input="$1"
output="${2:-$1}"
[ -f "$input" ] || fail "$input does not exist"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"

pkcs12="${VANTILE_SIGN_PKCS12:-}"
[ -n "$pkcs12" ] || fail "VANTILE_SIGN_PKCS12 must name the PKCS#12 file with the certificate and key"
[ -f "$pkcs12" ] || fail "$pkcs12 does not exist"
[ -n "${VANTILE_SIGN_PASSWORD+set}" ] || fail "VANTILE_SIGN_PASSWORD must hold the PKCS#12 file's password"

# A key inside the working tree must at least be one that git ignores.
key_path="$(realpath "$pkcs12")"
case "$key_path" in
  "$root"/*)
    if ! git -C "$root" check-ignore -q "$key_path" 2>/dev/null; then
      fail "$pkcs12 lies in the repository where git could commit it; keep the key outside it"
    fi
    ;;
esac

timestamp=()
if [ -n "${VANTILE_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$VANTILE_SIGN_TIMESTAMP_URL")
fi

# osslsigncode writes a new file; the result replaces the output only once it is complete.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
osslsigncode sign -pkcs12 "$pkcs12" -readpass <(printf '%s' "$VANTILE_SIGN_PASSWORD") \
  -h sha256 -n "Vantile installer" "${timestamp[@]}" \
  -in "$input" -out "$work/signed.exe" >"$work/osslsigncode.log" 2>&1 || {
  cat "$work/osslsigncode.log" >&2
  fail "signing $input failed"
}
cp "$work/signed.exe" "$output"
echo "Signed $output"
echo "SHA-256 of the signed file:"
sha256sum "$output"
