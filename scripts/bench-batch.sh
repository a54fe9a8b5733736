#!/usr/bin/env bash
# Benchmark: simhost over a folder of real drawings, at 1 and 2 jobs.
#
#   scripts/bench-batch.sh [COUNT...]      default: 1000 4000
#
# The drawings are the first COUNT .svg files (in byte order of their
# paths) of Debian's openclipart-svg, copied into one folder each. Each
# folder is run through "simhost select DIR --all --json" (18 commands per
# drawing, every result printed) and through "All Paths", at --jobs 1 and
# --jobs 2, under GNU time, REPS times each (default 5, the job counts
# taking turns): the fastest run's wall seconds and CPU seconds, the median
# wall seconds, drawings per second of the fastest run and the peak memory
# of the largest process. The outputs of the two job counts are compared
# byte for byte.
#
# Installs openclipart-svg and GNU time with apt when they are missing:
# this benchmark needs them, the build and the tests never do.
set -euo pipefail
cd "$(dirname "$0")/.."

counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 4000)
work=${BENCH_DIR:-/tmp/wendlow-bench-batch}
reps=${REPS:-5}
mkdir -p "$work"
# shellcheck source=scripts/bench-lib.sh
source scripts/bench-lib.sh

need=()
[ -d /usr/share/openclipart ] || need+=(openclipart-svg)
[ -x /usr/bin/time ] || need+=(time)
bench_install "${need[@]}"
bench_build
simhost=build/bin/simhost

# folder COUNT: the first COUNT drawings, copied (so the disk cache holds
# the same bytes for every run).
folder() {
  local dir="$work/openclipart-$1"
  if [ ! -d "$dir" ] || [ "$(find "$dir" -name '*.svg' | wc -l)" -ne "$1" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    find /usr/share/openclipart -name '*.svg' -type f | LC_ALL=C sort | head -n "$1" |
      while read -r f; do cp "$f" "$dir/$(printf '%s' "${f#/usr/share/openclipart/}" | tr '/' '_')"; done
  fi
  echo "$dir"
}

bench_machine
echo
echo "| drawings | MB | command | jobs | fastest s | its CPU s | median s | drawings/s | peak memory | exit |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for count in "${counts[@]}"; do
  dir=$(folder "$count")
  mb=$(du -smL "$dir" | cut -f1)
  for command in "--all --json" "All Paths"; do
    declare -A runs=()
    for ((r = 0; r < reps; r++)); do
      for jobs in 1 2; do
        if [ "$command" = "All Paths" ]; then args=(select "$dir" "All Paths" --jobs "$jobs");
        # shellcheck disable=SC2086
        else args=(select "$dir" $command --jobs "$jobs"); fi
        runs[$jobs]+="$(measure "$work/out-$jobs.txt" "$simhost" "${args[@]}")"$'\n'
      done
    done
    for jobs in 1 2; do
      best=$(printf '%s' "${runs[$jobs]}" | sort -n | head -n 1)
      median=$(printf '%s' "${runs[$jobs]}" | sort -n | sed -n "$(((reps + 1) / 2))p" | cut -d' ' -f1)
      peak=$(printf '%s' "${runs[$jobs]}" | sort -k3 -n | tail -n 1 | cut -d' ' -f3)
      status=$(printf '%s' "${runs[$jobs]}" | cut -d' ' -f4 | sort -u | tr '\n' ' ')
      read -r e cpu _ _ <<<"$best"
      printf '| %s | %s | %s | %s | %s | %.2f | %s | %s | %s MiB | %s|\n' "$count" "$mb" "$command" "$jobs" "$e" "$cpu" \
        "$median" "$(echo "scale=0; $count / $e" | bc -l)" "$((peak / 1024))" "$status"
    done
    cmp -s "$work/out-1.txt" "$work/out-2.txt" || echo "OUTPUTS DIFFER for $command at $count drawings"
    unset runs
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
