#!/usr/bin/env bash
# Times sha256_of_file on a 1 GiB file against `openssl dgst -sha256` on the same file in the
# same run (best of a few passes, runs interleaved), natively and as the Windows build under
# Wine (CNG through Wine's bcrypt). Prints each time and the ratio peer/ours (1.0 = as fast).
#
#   tests/bench/sha256_file_bench.sh [native build dir] [mingw build dir]
# Defaults: build/bench (cmake --preset bench) and build/mingw; the Wine prefix is
# VANTILE_WINEPREFIX as for the tests. The file is made under build/ and deleted at the end.
# SHA256_BENCH_MIB (1024) and SHA256_BENCH_PASSES (3) shrink a run, as the tests' smoke does.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
native_dir="${1:-$root/build/bench}"
mingw_dir="${2:-$root/build/mingw}"
mib="${SHA256_BENCH_MIB:-1024}"
passes="${SHA256_BENCH_PASSES:-3}"
[[ "$mib" =~ ^[1-9][0-9]*$ && "$passes" =~ ^[1-9][0-9]*$ ]] ||
  { echo "SHA256_BENCH_MIB and SHA256_BENCH_PASSES take whole numbers above 0" >&2; exit 2; }
bytes=$((mib * 1048576))
export WINEPREFIX="${VANTILE_WINEPREFIX:-$root/build/wine-prefix}"

cmake --build "$native_dir" --target sha256_bench >/dev/null 2>&1 || { echo "building sha256_bench in $native_dir failed" >&2; exit 1; }
cmake --build "$mingw_dir" --target support_sha256_file_tool >/dev/null 2>&1 || { echo "building sha256_file_tool in $mingw_dir failed" >&2; exit 1; }
bench="$native_dir/sha256_bench"
tool="$mingw_dir/tests/support/sha256_file_tool.exe"

work="$(mktemp -d "$root/build/sha256-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
file="$work/random.bin"
head -c "$bytes" /dev/urandom >"$file"
report="$work/report.txt"
windows_file="Z:${file//\//\\}"
windows_report="Z:${report//\//\\}"
# The wineserver, and the Wine services the first program starts, outlive this script: they
# must not hold its output open, or a caller reading it through a pipe waits for them.
wine_output="$work/wine-output.txt"
wineserver -p </dev/null >/dev/null 2>&1 || true  # already running is fine

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

expected="$(openssl dgst -sha256 -r "$file" | cut -d' ' -f1)"
openssl_times=() native_times=() wine_times=()
for ((pass = 1; pass <= passes; pass++)); do
  start=$(now); openssl dgst -sha256 -r "$file" >/dev/null; end=$(now)
  openssl_times+=("$(calc "$end - $start")")

  start=$(now); out="$("$bench" --hash "$file")"; end=$(now)
  native_times+=("$(calc "$end - $start")")
  [[ "$out" == "$expected $bytes "* ]] || { echo "native digest differs: $out" >&2; exit 1; }

  start=$(now)
  "$root/scripts/wine-run" "$tool" "$windows_file" "$windows_report" </dev/null >"$wine_output" 2>&1 ||
    { echo "sha256_file_tool.exe failed (exit $?):" >&2; cat "$wine_output" "$report" >&2 || true; exit 1; }
  end=$(now)
  wine_times+=("$(calc "$end - $start")")
  [[ "$(cat "$report")" == "$expected $bytes" ]] || { echo "Windows digest differs: $(cat "$report")" >&2; exit 1; }
done

o=$(best "${openssl_times[@]}") n=$(best "${native_times[@]}") w=$(best "${wine_times[@]}")
if ((mib % 1024 == 0)); then size="$((mib / 1024)) GiB"; else size="$mib MiB"; fi
printf 'file: %s, best of %d passes (whole process, start-up included)\n' "$size" "$passes"
printf '  openssl dgst -sha256          %7.3f s  %7.1f MiB/s\n' "$o" "$(calc "$mib / $o")"
printf '  native sha256_of_file         %7.3f s  %7.1f MiB/s  ratio %.3f (aim >= 0.9)\n' "$n" "$(calc "$mib / $n")" "$(calc "$o / $n")"
printf '  Windows sha256_of_file, Wine  %7.3f s  %7.1f MiB/s  ratio %.3f\n' "$w" "$(calc "$mib / $w")" "$(calc "$o / $w")"
