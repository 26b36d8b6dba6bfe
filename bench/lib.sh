# shellcheck shell=bash
# Shared helpers of the benchmark scripts (sourced, not run).

# Installs the Debian packages named, those missing only.
bench_need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
}

# Wall time of one command in microseconds on stdout, taken with the shell's
# own clock so no extra process is started around it. The command's standard
# output is dropped; its standard error goes where the caller's goes.
bench_wall_us() {
  local start end
  start=$EPOCHREALTIME
  "$@" >/dev/null
  end=$EPOCHREALTIME
  echo $(( ${end/./} - ${start/./} ))
}

# The median of the numbers given.
bench_median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# Microseconds as milliseconds with one decimal.
bench_ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }

# What the figures were taken on, for the record.
bench_machine() {
  echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
       "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), kernel $(uname -r)"
  echo "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    echo "tree:    $(git -C "$root" log -1 --format='%h %s')$(git -C "$root" diff --quiet HEAD -- src cmake CMakeLists.txt 2>/dev/null || echo ' (with uncommitted changes in src, cmake)')"
  fi
}

# Configures and builds the stand-in service pack carrying `package` in
# `dir`, quietly; the build log is `dir`.log.
bench_build_standin() {
  local root=$1 dir=$2 package=$3
  if ! { cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
               -DSP_PACKAGE="$package" -DSP_PATCH_INFO= &&
           cmake --build "$dir" --target servicepack -j "$(nproc)"; } >"$dir.log" 2>&1; then
    tail -30 "$dir.log" >&2
    echo "build failed: see $dir.log" >&2
    return 1
  fi
}
