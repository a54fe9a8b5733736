#!/usr/bin/env bash
# Before and after: builds two revisions and runs the benchmarks on both,
# the two builds taking turns, RUNS times each.
#
#   bench/compare.sh BEFORE_REV AFTER_REV [RUNS]        RUNS: default 5
#
# Each revision is checked out with `git worktree add` under $COMPARE_DIR
# (default /tmp/wendlow-compare) and built there (CMAKE_BUILD_TYPE
# $BUILD_TYPE, default Release; ccache, two jobs; both trees share the
# cache, so the second build compiles only what differs). Then, RUNS times,
# before and after in turn:
#
#   selection  bench/selection_bench.cpp of each revision, the cases of
#              $SELECTION_FILTER, CPU time per run
#   batch      `simhost select DIR --all --json` over the first $BATCH_COUNT
#              (default 1000) drawings of Debian's openclipart-svg, as the
#              batch figures of bench/README.md are taken: wall and CPU seconds
#   serve      AFTER's simhost-serve-bench against each revision's simhost
#              (one client measuring both servers), groups $SERVE_GROUPS,
#              on drawings of 10^5 and 10^6 elements: median per case
#
# and prints per case the min-max of each revision, and whether AFTER's
# median falls within BEFORE's range ("within"), or above or below it.
# The batch output of the two revisions is compared byte for byte.
#
# BENCHES names the benchmarks to run (default: "selection batch serve").
# AFTER_PATCH=FILE applies FILE to AFTER's tree before building: a change
# measured without committing it (AFTER_REV may then equal BEFORE_REV).
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 2
fi
before_rev=$1 after_rev=$2 runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
work=${COMPARE_DIR:-/tmp/wendlow-compare}
build_type=${BUILD_TYPE:-Release}
selection_filter=${SELECTION_FILTER:-'^(Command/(1|11)/100000|Command/1/1000000|Select/tree/1000000|Unselect/chain/1000000)$'}
batch_count=${BATCH_COUNT:-1000}
serve_groups=${SERVE_GROUPS:-sample,big,huge}
read -r -a benches <<<"${BENCHES:-selection batch serve}"
mkdir -p "$work/data"
results="$work/results.tsv"
: >"$results"

# tree NAME REV: a worktree of REV at $work/NAME, built (kept from an
# earlier comparison, it is reset to REV and its build goes on from there).
tree() {
  local dir="$work/$1"
  if [ -e "$dir/.git" ]; then
    git -C "$dir" reset -q --hard
    git -C "$dir" checkout -q --detach "$2"
  else
    rm -rf "$dir"
    git -C "$repo" worktree add --detach "$dir" "$2" >/dev/null
  fi
  local patched=
  if [ "$1" = after ] && [ -n "${AFTER_PATCH:-}" ]; then
    git -C "$dir" apply "$AFTER_PATCH"
    patched=" with ${AFTER_PATCH##*/}"
  fi
  echo "$1: $(git -C "$dir" log -1 --format='%h %s' | cut -c1-60)$patched"
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$work" CCACHE_NOHASHDIR=1
  cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DWENDLOW_BUILD_BENCH=ON >"$work/$1-cmake.log"
  cmake --build "$dir/build" -j2 --target simhost WendlowBrindle simhost-bench simhost-serve-bench \
    >"$work/$1-build.log" || { tail -n 30 "$work/$1-build.log" >&2; exit 1; }
}

# The drawings: the first COUNT openclipart files in byte order of their
# paths, and two generated ones.
data() {
  [ -d /usr/share/openclipart ] || {
    apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends openclipart-svg time >/dev/null
  }
  local dir="$work/data/openclipart-$batch_count"
  if [ ! -d "$dir" ]; then
    rm -rf "$dir.tmp"
    mkdir -p "$dir.tmp"
    find /usr/share/openclipart -name '*.svg' -type f | LC_ALL=C sort >"$work/data/all.txt"
    head -n "$batch_count" "$work/data/all.txt" |
      while read -r f; do cp "$f" "$dir.tmp/$(printf '%s' "${f#/usr/share/openclipart/}" | tr '/' '_')"; done
    mv "$dir.tmp" "$dir"
  fi
  [ -f "$work/data/big.svg" ] || python3 "$here/make-big-svg.py" "$work/data/big.svg" 100000 >/dev/null
  [ -f "$work/data/huge.svg" ] || python3 "$here/make-big-svg.py" "$work/data/huge.svg" 1000000 >/dev/null
}

# record BENCH CASE REV VALUE UNIT
record() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >>"$results"; }

selection() {
  "$work/$1/build/bin/simhost-bench" --benchmark_filter="$selection_filter" --benchmark_format=csv 2>/dev/null |
    awk -F, -v rev="$1" 'NR > 1 && $4 != "" { gsub(/"/, "", $1); printf "selection\t%s\t%s\t%s\t%s\n", $1, rev, $4, $5 }' \
      >>"$results"
}

batch() {
  local out="$work/batch-$1.jsonl" e u s
  /usr/bin/time -f '%e %U %S' -o "$work/time.txt" "$work/$1/build/bin/simhost" select \
    "$work/data/openclipart-$batch_count" --all --json --jobs 1 >"$out" 2>/dev/null || true
  read -r e u s < <(tail -n 1 "$work/time.txt")
  record batch "$batch_count drawings, --all --json: wall" "$1" "$e" s
  record batch "$batch_count drawings, --all --json: CPU" "$1" "$(echo "$u + $s" | bc -l)" s
}

serve() {
  "$work/after/build/bin/simhost-serve-bench" "$work/$1/build/bin/simhost" "$work/data/big.svg" \
    "$work/data/huge.svg" --only="$serve_groups" 2>/dev/null |
    sed -nE 's/^(.*[^ ]) +n= *[0-9]+ +median +([0-9.]+) ms.*/\1\t\2/p' |
    while IFS=$'\t' read -r name ms; do record serve "$name" "$1" "$ms" ms; done
}

# The whole run in one function, read before it starts: the script may
# be edited while a comparison runs.
main() {
  rm -f "$work"/batch-*.jsonl
  tree before "$before_rev"
  tree after "$after_rev"
  data
  echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs, L1d $(($(getconf LEVEL1_DCACHE_SIZE) >> 10)) KiB," \
    "L2 $(($(getconf LEVEL2_CACHE_SIZE) >> 10)) KiB per core"
  echo "load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
  for ((r = 1; r <= runs; r++)); do
    for bench in "${benches[@]}"; do
      for rev in before after; do "$bench" "$rev"; done
    done
    echo "run $r of $runs done, load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  done
  echo "load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ -f "$work/batch-before.jsonl" ]; then
    if cmp -s "$work/batch-before.jsonl" "$work/batch-after.jsonl"; then echo "batch output: identical"
    else echo "batch output: DIFFERS ($work/batch-before.jsonl, $work/batch-after.jsonl)"; fi
  fi
  echo
  # Per case in the order first seen: each side's min-max and median, and
  # where AFTER's median lies against BEFORE's range.
  awk -F'\t' '
    !(($1 FS $2) in seen) { seen[$1 FS $2] = 1; order[++n] = $1 FS $2; unit[$1 FS $2] = $5 }
    { k = $1 FS $2 FS $3; v[k, ++c[k]] = $4 }
    function sorted(k,   i, j, t) {
      for (i = 1; i <= c[k]; i++) s[i] = v[k, i]
      for (i = 2; i <= c[k]; i++) for (j = i; j > 1 && s[j - 1] + 0 > s[j] + 0; j--) { t = s[j]; s[j] = s[j - 1]; s[j - 1] = t }
      return c[k]
    }
    END {
      printf "%-10s %-50s %-28s %-28s %s\n", "bench", "case", "before min-max (median)", "after min-max (median)", "after"
      for (i = 1; i <= n; i++) {
        split(order[i], p, FS)
        m = sorted(order[i] FS "before"); bmin = s[1]; bmax = s[m]; bmed = s[int((m + 1) / 2)]
        m = sorted(order[i] FS "after"); amin = s[1]; amax = s[m]; amed = s[int((m + 1) / 2)]
        verdict = amed + 0 < bmin + 0 ? "below" : amed + 0 > bmax + 0 ? "ABOVE" : "within"
        printf "%-10s %-50s %-28s %-28s %s\n", p[1], substr(p[2], 1, 50),
          sprintf("%.4g-%.4g (%.4g) %s", bmin, bmax, bmed, unit[order[i]]),
          sprintf("%.4g-%.4g (%.4g) %s", amin, amax, amed, unit[order[i]]), verdict
      }
    }' "$results"
}

main "$@"
exit
