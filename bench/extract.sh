#!/usr/bin/env bash
# Extraction against cp: `servicepack /e out.msp` of a service pack carrying a
# 256 MiB package, and `cp` of the same package, alternating, warm page
# cache, whole-process wall time (median of N) and peak resident memory.
#
#   bench/extract.sh            # N=5 runs of each after one warm-up
#   N=11 bench/extract.sh
#
# Aims: at most 1.2 times cp, and peak memory at most package + 16 MiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"

runs=${N:-5}
mib=${SIZE_MIB:-256}
work=$root/build/bench/extract
package=$work/package-${mib}mib.msp
mkdir -p "$work"
machine=$(bench_machine)

bench_need_packages time cmake ninja-build g++ libgtest-dev

# A random package, made here and never committed; kept between runs so a
# second run does not rebuild the service pack.
if [ "$(stat -c %s "$package" 2>/dev/null || echo 0)" -ne $((mib * 1048576)) ]; then
  echo "Making a random ${mib} MiB package" >&2
  head -c $((mib * 1048576)) /dev/urandom >"$package"
fi
echo "Building the stand-in service pack that carries it" >&2
bench_build_standin "$root" "$work/build" "$package"
servicepack=$work/build/servicepack

out=$work/out.msp
out2=$work/out2.msp
memory=$work/peak-kib

# One run writing `output`: its old copy is removed and the disk written back
# first, so that no command pays for truncating an old file or for the
# writeback of the one before. Prints "<wall us> <peak KiB>".
run() {
  rm -f "$1"
  shift
  sync
  local us
  us=$(bench_wall_us /usr/bin/time -f %M -o "$memory" "$@")
  echo "$us $(cat "$memory")"
}

# Warm page cache: the package and the executable are read once, and each
# command runs once untimed.
cat "$package" "$servicepack" >/dev/null
run "$out" "$servicepack" /e "$out" >/dev/null
run "$out2" cp "$package" "$out2" >/dev/null
cmp -s "$package" "$out" || { echo "servicepack /e wrote a different file" >&2; exit 1; }

sp_us=() sp_kib=() cp_us=() cp_kib=()
for ((i = 0; i < runs; i++)); do
  read -r us kib < <(run "$out" "$servicepack" /e "$out")
  sp_us+=("$us") sp_kib+=("$kib")
  read -r us kib < <(run "$out2" cp "$package" "$out2")
  cp_us+=("$us") cp_kib+=("$kib")
done
cmp -s "$package" "$out" || { echo "servicepack /e wrote a different file" >&2; exit 1; }
rm -f "$out" "$out2"

max() { printf '%s\n' "$@" | sort -n | tail -1; }
min() { printf '%s\n' "$@" | sort -n | head -1; }
sp_med=$(bench_median "${sp_us[@]}")
cp_med=$(bench_median "${cp_us[@]}")
sp_peak=$(max "${sp_kib[@]}")
cp_peak=$(max "${cp_kib[@]}")

echo
echo "Extracting a ${mib} MiB package, N=$runs each, alternating, warm page cache"
echo "$machine"
echo
printf '%-28s %10s %10s %10s %14s\n' command "median ms" "min ms" "max ms" "peak RSS MiB"
printf '%-28s %10s %10s %10s %14s\n' "servicepack /e out.msp" "$(bench_ms "$sp_med")" \
  "$(bench_ms "$(min "${sp_us[@]}")")" "$(bench_ms "$(max "${sp_us[@]}")")" \
  "$(awk -v k="$sp_peak" 'BEGIN { printf "%.1f", k / 1024 }')"
printf '%-28s %10s %10s %10s %14s\n' "cp pkg out2.msp" "$(bench_ms "$cp_med")" \
  "$(bench_ms "$(min "${cp_us[@]}")")" "$(bench_ms "$(max "${cp_us[@]}")")" \
  "$(awk -v k="$cp_peak" 'BEGIN { printf "%.1f", k / 1024 }')"
echo
awk -v s="$sp_med" -v c="$cp_med" -v p="$sp_peak" -v m="$mib" 'BEGIN {
  r = s / c
  printf "time:   servicepack / cp = %.2f (aim <= 1.20: %s)\n", r, (r <= 1.2 ? "met" : "missed")
  over = p / 1024 - m
  printf "memory: servicepack peak = package + %.1f MiB (aim <= +16 MiB: %s)\n", over, (over <= 16 ? "met" : "missed")
}'
echo "all runs (us): servicepack ${sp_us[*]}; cp ${cp_us[*]}"
