#!/usr/bin/env bash
# Extraction against cp: `servicepack /e out.msp` of a service pack carrying a
# 256 MiB package, and `cp` of the same package, alternating, warm page
# cache, whole-process wall time (median of N) and peak resident memory.
#
#   bench/extract.sh            # N=5 runs of each after one warm-up
#   N=11 bench/extract.sh
#   PROFILE=1 bench/extract.sh  # then where each spends its time (strace -c, perf)
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
# writeback of the one before. Prints "<wall us> <peak KiB> <CPU us>"; the
# CPU time (user + system, 10 ms steps) says how much of the wall time was
# the command's own work when the machine is shared.
run() {
  rm -f "$1"
  shift
  sync
  local us
  us=$(bench_wall_us /usr/bin/time -f '%M %U %S' -o "$memory" "$@")
  echo "$us $(awk '{ printf "%d %d", $1, ($2 + $3) * 1e6 }' "$memory")"
}

# Warm page cache: the package and the executable are read once, and each
# command runs once untimed.
cat "$package" "$servicepack" >/dev/null
run "$out" "$servicepack" /e "$out" >/dev/null
run "$out2" cp "$package" "$out2" >/dev/null
cmp -s "$package" "$out" || { echo "servicepack /e wrote a different file" >&2; exit 1; }

sp_us=() sp_kib=() sp_cpu=() cp_us=() cp_kib=() cp_cpu=()
for ((i = 0; i < runs; i++)); do
  read -r us kib cpu < <(run "$out" "$servicepack" /e "$out")
  sp_us+=("$us") sp_kib+=("$kib") sp_cpu+=("$cpu")
  read -r us kib cpu < <(run "$out2" cp "$package" "$out2")
  cp_us+=("$us") cp_kib+=("$kib") cp_cpu+=("$cpu")
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
row() {  # row <label> <peak KiB> <CPU us...> -- <wall us...>
  local label=$1 peak=$2 cpu=() wall=()
  shift 2
  while [ "$1" != -- ]; do cpu+=("$1") && shift; done
  shift
  wall=("$@")
  printf '%-24s %10s %8s %8s %14s %16s\n' "$label" "$(bench_ms "$(bench_median "${wall[@]}")")" \
    "$(bench_ms "$(min "${wall[@]}")")" "$(bench_ms "$(max "${wall[@]}")")" \
    "$(bench_ms "$(bench_median "${cpu[@]}")")" "$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
}
printf '%-24s %10s %8s %8s %14s %16s\n' command "median ms" "min ms" "max ms" "median CPU ms" "peak RSS MiB"
row "servicepack /e out.msp" "$sp_peak" "${sp_cpu[@]}" -- "${sp_us[@]}"
row "cp pkg out2.msp" "$cp_peak" "${cp_cpu[@]}" -- "${cp_us[@]}"
echo
awk -v s="$sp_med" -v c="$cp_med" -v p="$sp_peak" -v m="$mib" 'BEGIN {
  r = s / c
  printf "time:   servicepack / cp = %.2f (aim <= 1.20: %s)\n", r, (r <= 1.2 ? "met" : "missed")
  peak = p / 1024
  printf "memory: servicepack peak %.1f MiB against package + 16 MiB = %d MiB (%s)\n", peak, m + 16, (peak <= m + 16 ? "met" : "missed")
}'
echo "all runs (us): servicepack ${sp_us[*]}; cp ${cp_us[*]}"

if [ "${PROFILE:-0}" = 1 ]; then
  bench_need_packages strace linux-perf
  for command in "$servicepack /e $out" "cp $package $out2"; do
    echo
    echo "== $command"
    rm -f "$out" "$out2" && sync
    # shellcheck disable=SC2086  # the command is split on purpose
    strace -c -o "$work/strace.txt" $command && head -6 "$work/strace.txt" | tail -4
    rm -f "$out" "$out2" && sync
    # shellcheck disable=SC2086
    perf stat -e task-clock,page-faults -o "$work/perf-stat.txt" $command &&
      grep -E 'task-clock|page-faults|elapsed' "$work/perf-stat.txt"
    rm -f "$out" "$out2" && sync
    # shellcheck disable=SC2086
    perf record -q -o "$work/perf.data" $command 2>/dev/null &&
      perf report -q -i "$work/perf.data" --no-children --sort sym --stdio 2>/dev/null | head -5
  done
  rm -f "$out" "$out2"

  # The same bytes written out in other ways, each from a fresh process with
  # the package mapped as the executable's image is: what the time depends on.
  { cmake -S "$root" -B "$work/build" -DSP_BUILD_BENCH=ON &&
      cmake --build "$work/build" --target write_paths; } >>"$work/build.log" 2>&1
  echo
  echo "== ways of writing the package out (median of $runs, ms)"
  for mode in write pieces-64k pieces-1m populate bounce-128k copy-range; do
    times=()
    for ((i = 0; i < runs; i++)); do
      rm -f "$out" && sync
      times+=("$("$work/build/bench/write_paths" "$mode" "$package" "$out")")
    done
    printf '  %-12s %8s\n' "$mode" "$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
  done
  rm -f "$out"
fi
