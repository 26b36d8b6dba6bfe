#!/usr/bin/env bash
# What the executable costs before any work: a whole `/i` run of the stand-in
# service pack (start to exit, standard error to /dev/null) against
# /bin/true and a C++ hello world (the floor for a program on the same
# runtime), and the size of the Windows executables without a package, by
# section.
#
#   bench/startup.sh            # N=50 runs of each after 5 warm-ups
#   N=200 bench/startup.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"

runs=${N:-50}
work=$root/build/bench/startup
mkdir -p "$work"
machine=$(bench_machine)

bench_need_packages msitools cmake ninja-build g++ libgtest-dev \
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
# hyperfine when Debian has it; a loop of our own otherwise.
bench_need_packages hyperfine 2>/dev/null || true

# A small real package for /i: target products in property 7, msibuild's
# keywords in property 5.
package=$work/package-small.msi
if [ ! -s "$package" ]; then
  msibuild "$package" -s "Bench Patch" "Bench Maker" \
    "{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41}" "{2B8E61C4-7D3A-4F95-B0E2-9C14A6D85F37}"
fi
echo "Building the stand-in service pack" >&2
bench_build_standin "$root" "$work/native" "$package"
servicepack=$work/native/servicepack

# /i leaves its copy of the package in the temporary directory: give it one
# of its own and empty it afterwards.
export TMP=$work/tmp
rm -rf "$TMP" && mkdir -p "$TMP"
"$servicepack" /i 2>&1 | grep -q '6F1C3A52' ||
  { echo "servicepack /i does not show the package's products" >&2; exit 1; }

# The floor for any program on the same C++ runtime, built the same way.
printf '#include <iostream>\nint main() { std::cout << "hello\\n"; }\n' >"$work/hello.cpp"
g++ -O2 -o "$work/hello" "$work/hello.cpp"

echo
echo "A whole /i run against /bin/true and a C++ hello world, N=$runs each"
echo "$machine"
echo
if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 5 --runs "$runs" --export-json "$work/startup.json" \
    --command-name "servicepack /i" "$servicepack /i" \
    --command-name "/bin/true" "/bin/true" \
    --command-name "C++ hello world" "$work/hello" >"$work/hyperfine.log" 2>&1
  python3 - "$work/startup.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print("%-16s %10s %10s %10s %10s" % ("command", "median ms", "mean ms", "min ms", "max ms"))
for r in results:
    print("%-16s %10.2f %10.2f %10.2f %10.2f" % (r["command"], r["median"] * 1e3, r["mean"] * 1e3,
                                                 r["min"] * 1e3, r["max"] * 1e3))
print("servicepack /i takes %.2f ms more than /bin/true and %.2f ms more than a C++ hello world"
      " (medians), measured with hyperfine"
      % ((results[0]["median"] - results[1]["median"]) * 1e3,
         (results[0]["median"] - results[2]["median"]) * 1e3))
PY
else
  ours=() theirs=() hello=()
  for ((i = 0; i < 5; i++)); do "$servicepack" /i 2>/dev/null; /bin/true; "$work/hello" >/dev/null; done
  for ((i = 0; i < runs; i++)); do
    ours+=("$(bench_wall_us "$servicepack" /i 2>/dev/null)")
    theirs+=("$(bench_wall_us /bin/true)")
    hello+=("$(bench_wall_us "$work/hello")")
  done
  o=$(bench_median "${ours[@]}") t=$(bench_median "${theirs[@]}")
  printf '%-16s %10s\n' command "median ms" "servicepack /i" "$(bench_ms "$o")" "/bin/true" "$(bench_ms "$t")" \
    "C++ hello world" "$(bench_ms "$(bench_median "${hello[@]}")")"
  echo "servicepack /i takes $(bench_ms $((o - t))) ms more than /bin/true (medians), measured with a shell loop"
fi
rm -rf "$TMP"

# The Windows executables with a one-byte package: what the program itself
# weighs. Built in directories of their own, as the presets build them.
one_byte=$work/one-byte.msp
printf 'x' >"$one_byte"
for arch in x86 x64; do
  toolchain=$root/cmake/mingw-$([ $arch = x86 ] && echo i686 || echo x86_64).cmake
  dir=$work/windows-$arch
  echo "Building the Windows $arch executable with a one-byte package" >&2
  { cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
          -DCMAKE_BUILD_TYPE=MinSizeRel -DSP_PACKAGE="$one_byte" -DSP_PATCH_INFO= &&
      cmake --build "$dir" --target servicepack -j "$(nproc)"; } >"$dir.log" 2>&1 ||
    { tail -30 "$dir.log" >&2; echo "build failed: see $dir.log" >&2; exit 1; }
done

echo
echo "Size of servicepack.exe with a one-byte package (the executable without its package)"
for arch in x86 x64; do
  exe=$work/windows-$arch/servicepack.exe
  prefix=$([ $arch = x86 ] && echo i686 || echo x86_64)-w64-mingw32
  echo
  echo "windows-$arch: $(stat -c %s "$exe") bytes ($(awk -v b="$(stat -c %s "$exe")" 'BEGIN { printf "%.1f", b / 1024 }') KiB)"
  # Each section's size as loaded (bytes, decimal), then text/data/bss.
  "$prefix-size" -A "$exe" | awk 'NF == 3 && $1 ~ /^\./ { printf "  %-9s %7d\n", $1, $2 }'
  "$prefix-size" "$exe" | sed 's/^/  /'
  echo "  imports: $("$prefix-objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')"
done
echo
echo "stand-in executable (Linux, RelWithDebInfo, small package): $(stat -c %s "$servicepack") bytes on disk,"
size "$servicepack" | sed 's/^/  /'
