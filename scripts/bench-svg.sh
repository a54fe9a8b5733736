#!/usr/bin/env bash
# Benchmark: a generated SVG drawing of 10^6 elements (about 100 MB) read by
# simhost and run through "All Paths", end to end, beside Inkscape's command
# line selecting the same paths in the same file. Prints seconds, MB/s and
# peak memory of each.
#
# Then the reading speed against a bare expat parse of the same file, in the
# same run: `xmlwf FILE` (Debian's expat package) beside `simhost select FILE
# "Placed Objects"` (reading, mapping and a command that finds nothing to
# select, so the time is the reading's) and "All Paths" end to end, each the
# best CPU time (user + system) of REPEAT runs (default 5); the ratio is
# xmlwf's time over simhost's (the target: at least 2/3), and the peak
# memory over the file's size (the target: under 1.5).
#
#   scripts/bench-svg.sh [ELEMENTS...]      default: 100000 1000000
#
# Installs Inkscape, expat (xmlwf) and GNU time with apt when they are
# missing; they are needed here only, never by the build or the tests.
# Inkscape gets INKSCAPE_TIMEOUT seconds (default 1800) per file;
# SKIP_INKSCAPE=1 measures simhost alone.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
timeout_s=${INKSCAPE_TIMEOUT:-1800}
work=${BENCH_DIR:-/tmp/wendlow-bench}
mkdir -p "$work"
# shellcheck source=scripts/bench-lib.sh
source scripts/bench-lib.sh

need=()
[ -n "${SKIP_INKSCAPE:-}" ] || command -v inkscape >/dev/null || need+=(inkscape)
command -v xmlwf >/dev/null || need+=(expat)
[ -x /usr/bin/time ] || need+=(time)
command -v python3 >/dev/null || need+=(python3)
command -v bc >/dev/null || need+=(bc)
bench_install "${need[@]}"
bench_build

# A row: elements tool MB seconds cpu-seconds peak-KiB selected
row() {
  printf '%-10s %-9s %7.1f %9.2f %8.2f %8.1f %10.1f %10.1f %8.2f %s\n' "$1" "$2" "$3" "$4" "$5" \
    "$(echo "$3 / $4" | bc -l)" "$(echo "$3 / ($5 + 0.001)" | bc -l)" "$(echo "$6 / 1024" | bc -l)" \
    "$(echo "$6 * 1.024 / 1000 / $3" | bc -l)" "$7"
}

bench_machine

# min A B: the smaller number.
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" -eq 1 ]; then echo "$2"; else echo "$1"; fi; }

# speed FILE: simhost against xmlwf on FILE, interleaved in one run.
speed() {
  local file=$1 repeat=${REPEAT:-5} bytes
  bytes=$(stat -c %s "$file")
  local x="" r="" a="" xm rm am e cpu status
  # Interleaved, so that load from elsewhere falls on all three alike.
  for _ in $(seq "$repeat"); do
    read -r e cpu xm status < <(measure /dev/null xmlwf "$file")
    x=$(min "$x" "$cpu")
    read -r e cpu rm status < <(measure /dev/null build/bin/simhost select "$file" "Placed Objects")
    r=$(min "$r" "$cpu")
    read -r e cpu am status < <(measure /dev/null build/bin/simhost select "$file" "All Paths")
    a=$(min "$a" "$cpu")
  done
  printf 'reading %s (%.1f MB), best CPU seconds of %s interleaved runs:\n' "$file" "$(echo "$bytes / 1000000" | bc -l)" "$repeat"
  printf '  xmlwf                        %6.2f s  peak %6.1f MiB\n' "$x" "$(echo "$xm / 1024" | bc -l)"
  printf '  simhost "Placed Objects"     %6.2f s  peak %6.1f MiB  xmlwf/simhost %.2f  peak/file %.2f\n' "$r" \
    "$(echo "$rm / 1024" | bc -l)" "$(echo "$x / $r" | bc -l)" "$(echo "$rm * 1024 / $bytes" | bc -l)"
  printf '  simhost "All Paths"          %6.2f s  peak %6.1f MiB  xmlwf/simhost %.2f  peak/file %.2f\n' "$a" \
    "$(echo "$am / 1024" | bc -l)" "$(echo "$x / $a" | bc -l)" "$(echo "$am * 1024 / $bytes" | bc -l)"
}
printf '%-10s %-9s %7s %9s %8s %8s %10s %10s %8s %s\n' elements tool MB seconds "cpu s" "MB/s" "MB/cpu s" \
  "peak MiB" "peak/MB" selected
for n in "${sizes[@]}"; do
  file="$work/drawing-$n.svg"
  [ -s "$file" ] || python3 bench/make-big-svg.py "$file" "$n" >/dev/null
  mb=$(echo "$(stat -c %s "$file") / 1000000" | bc -l)

  read -r e cpu m status < <(measure "$work/simhost.out" build/bin/simhost select "$file" "All Paths")
  [ "$status" -eq 0 ] || { echo "simhost failed: $(cat "$work/stderr.txt")"; exit 1; }
  row "$n" simhost "$mb" "$e" "$cpu" "$m" "$(wc -l <"$work/simhost.out")"
  simhost_s=$e
  simhost_cpu=$cpu
  [ -z "${SKIP_INKSCAPE:-}" ] || continue

  read -r e cpu m status < <(measure "$work/inkscape.out" timeout "$timeout_s" inkscape --batch-process \
    --actions="select-by-element:path;select-list" "$file")
  if [ "$status" -eq 124 ]; then
    printf '%-10s %-9s %9.1f %9s  (stopped after %s s: more than %.0fx slower than simhost)\n' "$n" inkscape "$mb" \
      ">$timeout_s" "$timeout_s" "$(echo "$timeout_s / $simhost_s" | bc -l)"
    continue
  fi
  row "$n" inkscape "$mb" "$e" "$cpu" "$m" "$(grep -c '^p[0-9]' "$work/inkscape.out" || true)"
  printf '%-10s simhost is %.1fx faster than Inkscape (%.1fx in CPU time)\n' "$n" "$(echo "$e / $simhost_s" | bc -l)" \
    "$(echo "$cpu / ($simhost_cpu + 0.001)" | bc -l)"
done

# The reading speed against expat, on the largest drawing.
speed "$work/drawing-${sizes[-1]}.svg"
