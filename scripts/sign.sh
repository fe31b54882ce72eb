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
# password leaves the environment at once and reaches osslsigncode through one pipe, never on
# a command line nor in any command's environment. The RFC 3161 time-stamp server is optional;
# with it, the signature stays valid after the certificate expires. Without an output name the
# file is signed in place; an output that is a link stays one, and the program it leads to is
# signed. Either way the result is written beside the output and renamed over it only when
# complete, so a full disk never leaves a truncated program. Prints the signed
# file's SHA-256.
set -euo pipefail
# Kept in a shell variable only: no command started from here sees it in its environment.
password="${VANTILE_SIGN_PASSWORD-}"
password_given="${VANTILE_SIGN_PASSWORD+set}"
unset VANTILE_SIGN_PASSWORD
# Links resolved, as for the key below, so a checkout reached through a link is still found.
root="$(realpath "$(dirname "${BASH_SOURCE[0]}")/..")"

fail() {
  echo "sign.sh: $*" >&2
  exit 2
}

[ $# -ge 1 ] && [ $# -le 2 ] || fail "usage: scripts/sign.sh PROGRAM.exe [SIGNED.exe]"
input="$1"
output="${2:-$1}"
# A folder is refused before any work, whichever side it is on.
[ ! -d "$input" ] || fail "$input is a folder, not a program"
[ ! -d "$output" ] || fail "$output is a folder, not a file to write the signed program to"
[ -f "$input" ] || fail "$input does not exist"
# A link is kept: the program it leads to is the one signed.
if [ -L "$output" ]; then
  output="$(realpath -- "$output")" || fail "${2:-$1} is a link that leads nowhere"
  [ ! -d "$output" ] || fail "${2:-$1} is a folder, not a file to write the signed program to"
fi
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"

pkcs12="${VANTILE_SIGN_PKCS12:-}"
[ -n "$pkcs12" ] || fail "VANTILE_SIGN_PKCS12 must name the PKCS#12 file with the certificate and key"
[ -f "$pkcs12" ] || fail "$pkcs12 does not exist"
[ -n "$password_given" ] || fail "VANTILE_SIGN_PASSWORD must hold the PKCS#12 file's password"

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

# osslsigncode writes into a folder beside the output; the rename within that file system
# replaces the output only once the signed file is complete.
work="$(mktemp -d "$(dirname "$output")/.vantile-signing-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# printf is a shell builtin: the password goes into the pipe without starting a command.
osslsigncode sign -pkcs12 "$pkcs12" -readpass <(printf '%s' "$password") \
  -h sha256 -n "Vantile installer" "${timestamp[@]}" \
  -in "$input" -out "$work/signed.exe" >"$work/osslsigncode.log" 2>&1 || {
  cat "$work/osslsigncode.log" >&2
  fail "signing $input failed"
}
chmod --reference="$input" "$work/signed.exe"
mv -f "$work/signed.exe" "$output"
echo "Signed $output"
echo "SHA-256 of the signed file:"
sha256sum "$output"
