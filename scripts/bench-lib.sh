# Shared by the benchmark scripts (sourced, never run): installing what a
# benchmark needs, building, timing a command, naming the machine.

# bench_install PACKAGE...: installs them with apt (those given are missing).
bench_install() {
  [ $# -gt 0 ] || return 0
  echo "Installing: $*"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"
}

# bench_build TARGET...: the default preset's simhost, plug-in and TARGETs.
bench_build() {
  scripts/install-deps.sh native
  cmake --preset default >/dev/null
  cmake --build --preset default --target simhost WendlowBrindle "$@" >/dev/null
}

# measure OUTFILE COMMAND...: runs it under GNU time (its figures in
# $work/time.txt, its stderr in $work/stderr.txt); prints
# "seconds cpu-seconds peak-KiB exit-status".
measure() {
  local out=$1; shift
  local stats="$work/time.txt" status=0
  /usr/bin/time -f "%e %U %S %M" -o "$stats" "$@" >"$out" 2>"$work/stderr.txt" || status=$?
  local e u s m
  read -r e u s m < <(tail -n 1 "$stats")
  echo "$e $(echo "$u + $s" | bc -l) $m $status"
}

# bench_machine: the CPU, its caches and the load, for the figures.
bench_machine() {
  lscpu | grep -E '^(Model name|CPU\(s\)|L1d|L2|L3)' | sed 's/  */ /g'
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (other work slows the wall clock)"
}
