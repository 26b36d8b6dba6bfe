#!/usr/bin/env bash
# Reading a package's summary: property 7 through the stand-in reader
# (bench/read_summary.cpp, the service pack's own code path) against
# `msiinfo suminfo`, on a 1 GiB package and a 1 MiB one made the same way,
# alternating, whole-process wall time (median of N); plus the time of one
# open-read-close inside the process and the bytes the reader reads.
#
#   bench/summary.sh            # N=21 runs of each per package after a warm-up
#   N=51 bench/summary.sh
#
# Aims: at least 10 times faster than msiinfo, and as fast on 1 GiB as on 1 MiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"

runs=${N:-21}
work=$root/build/bench/summary
mkdir -p "$work"
machine=$(bench_machine)

bench_need_packages msitools strace cmake ninja-build g++ libgtest-dev

# Packages from msibuild, a writer we did not write, with target products in
# property 7 and keywords in property 5, each with one large stream added
# after the database: the summary then sits among a gigabyte of other sectors.
targets="{6F1C3A52-FEDC-4B8E-9A1D-3C5E7F9A2B41};{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}"
make_package() {  # make_package <file> <MiB of the large stream>
  local file=$1 mib=$2
  [ -s "$file" ] && return 0
  echo "Making $(basename "$file") (a ${mib} MiB stream)" >&2
  rm -f "$file.tmp" "$work/stream.bin"
  msibuild "$file.tmp" -s "Bench Patch" "Bench Maker" "$targets" \
    "{2B8E61C4-7D3A-4F95-B0E2-9C14A6D85F37}"
  head -c $((mib * 1048576)) /dev/urandom >"$work/stream.bin"
  msibuild "$file.tmp" -a bigstream "$work/stream.bin"
  rm -f "$work/stream.bin"
  mv "$file.tmp" "$file"
}
big=$work/package-1gib.msi
small=$work/package-1mib.msi
make_package "$big" 1024
make_package "$small" 1

# msiinfo must still read them, and see what we see.
for package in "$big" "$small"; do
  msiinfo suminfo "$package" | grep -qxF "Template: $targets" ||
    { echo "msiinfo does not read property 7 of $package" >&2; exit 1; }
  msiinfo suminfo "$package" | grep -q '^Keywords: .' ||
    { echo "msiinfo finds no property 5 in $package" >&2; exit 1; }
done

echo "Building bench/read_summary" >&2
bench_build() {
  cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSP_BUILD_BENCH=ON -DSP_PACKAGE="$small" -DSP_PATCH_INFO= >"$work/build.log" 2>&1 &&
    cmake --build "$work/build" --target read_summary -j "$(nproc)" >>"$work/build.log" 2>&1
}
bench_build || { tail -30 "$work/build.log" >&2; exit 1; }
reader=$work/build/bench/read_summary

for package in "$big" "$small"; do
  [ "$("$reader" "$package")" = "$targets" ] ||
    { echo "read_summary reads another property 7 from $package" >&2; exit 1; }
done

# reads_of <package> <command...>: the bytes and read calls the command
# spends on the package, and the lowest and highest offset read.
reads_of() {
  local package=$1
  shift
  strace -f -y -e trace=read,pread64,readv,preadv,preadv2 -o "$work/strace.log" "$@" >/dev/null
  grep -F "<$package>" "$work/strace.log" | awk -F'= ' '{ calls++; bytes += $NF }
    END { printf "%d bytes in %d reads", bytes, calls }'
}

declare -A med
for package in "$big" "$small"; do
  cat "$package" >/dev/null  # warm page cache
  "$reader" "$package" >/dev/null
  msiinfo suminfo "$package" >/dev/null
  ours=() theirs=()
  for ((i = 0; i < runs; i++)); do
    ours+=("$(bench_wall_us "$reader" "$package")")
    theirs+=("$(bench_wall_us msiinfo suminfo "$package")")
  done
  med[$package,ours]=$(bench_median "${ours[@]}")
  med[$package,theirs]=$(bench_median "${theirs[@]}")
  # One open-read-close inside the process, without process start.
  med[$package,call]=$("$reader" "$package" --repeat 2000 2>&1 >/dev/null |
                       sed -n 's/^one open-read-close: \([0-9.]*\) us.*/\1/p')
  # What each reads from the package: every read call on its descriptor.
  med[$package,io]=$(reads_of "$package" "$reader" "$package")
  med[$package,msiinfo_io]=$(reads_of "$package" msiinfo suminfo "$package")
done

echo
echo "Reading property 7 of a package, N=$runs each per package, alternating, warm page cache"
echo "$machine"
echo
printf '%-28s %16s %18s %8s %18s\n' package "ours median ms" "msiinfo median ms" ratio "ours in-process us"
for package in "$big" "$small"; do
  printf '%-28s %16s %18s %8s %18s\n' "$(basename "$package") ($(awk -v b="$(stat -c %s "$package")" 'BEGIN { printf "%.1f", b / 1048576 }') MiB)" \
    "$(bench_ms "${med[$package,ours]}")" "$(bench_ms "${med[$package,theirs]}")" \
    "$(awk -v a="${med[$package,theirs]}" -v b="${med[$package,ours]}" 'BEGIN { printf "%.1fx", a / b }')" \
    "${med[$package,call]}"
done
echo
for package in "$big" "$small"; do
  echo "read from $(basename "$package"): ours ${med[$package,io]}; msiinfo ${med[$package,msiinfo_io]}"
done
"$reader" "$big" --io 2>&1 >/dev/null | sed 's/^/cross-check from \/proc\/self\/io, 1 GiB package: /'
echo
awk -v b="${med[$big,theirs]}" -v o="${med[$big,ours]}" -v c1="${med[$big,call]}" -v c2="${med[$small,call]}" 'BEGIN {
  printf "aim >= 10x msiinfo on 1 GiB: %.1fx (%s)\n", b / o, (b / o >= 10 ? "met" : "missed")
  printf "1 GiB against 1 MiB, in-process: %.2f us against %.2f us\n", c1, c2
}'
