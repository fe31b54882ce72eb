#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, and makes the private Wine prefix.
# Safe to run again: it installs only what is missing and keeps an existing prefix.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  libgtest-dev googletest libbenchmark-dev libssl-dev libarchive-dev libcurl4-openssl-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 libgnutls30 fonts-wine xvfb xauth xdotool imagemagick
  python3 python3-pefile pyflakes3 openssl osslsigncode curl ca-certificates util-linux procps
  squid nginx-light
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The project's own Wine prefix, never ~/.wine. It reports Windows 10 (build 18362); a copy
# of the program named vantile-install-win7.exe sees Windows 7 (build 7601), so the build
# check can be tested in the same prefix.
export WINEPREFIX="${VANTILE_WINEPREFIX:-$root/build/wine-prefix}"
set -a; . "$root/scripts/wine.env"; set +a
# A crashing program ends at once with its exception code, with no debugger attached and
# no crash dialog, as on a Windows without a post-mortem debugger.
if [ ! -f "$WINEPREFIX/.vantile-ready" ]; then
  echo "setup: creating the Wine prefix at $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wine_run="$root/scripts/wine-run"
  "$wine_run" wineboot -i >/dev/null 2>&1
  "$wine_run" winecfg -v win10 >/dev/null 2>&1
  "$wine_run" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$wine_run" reg add 'HKCU\Software\Wine\AppDefaults\vantile-install-win7.exe' /v Version /t REG_SZ /d win7 /f >/dev/null 2>&1
  "$wine_run" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  wineserver -w
  touch "$WINEPREFIX/.vantile-ready"
fi
# Debian's Wine looks for its own fonts in \??\Z:\usr\lib\wine\..\..\share\wine\fonts, a path
# with ".." that its own file lookup refuses, so caption buttons fell back to another font and
# showed Marlett's letters "0 1 r". Marlett goes where Windows keeps it; the text fonts stay
# as they are.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
[ -f "$fonts/marlett.ttf" ] || install -D -m 644 /usr/share/wine/fonts/marlett.ttf "$fonts/marlett.ttf"
