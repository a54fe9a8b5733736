#!/bin/sh
# The bounded fuzzing run of CI: runs the fuzzer given as arguments with the
# address space laid out the same on every run (no randomisation), so that
# the inputs libFuzzer grows, which follow the coverage that addresses can
# steer, are the same each time a build runs it. Its output goes to LOG;
# the end of it is printed, and on failure the lines that say why (the
# broken rule, the sanitizer's report, a timeout, the kept input's name)
# are printed last, where a CI excerpt shows them.
log=$1
shift
if setarch "$(uname -m)" -R true 2>/dev/null; then
  setarch "$(uname -m)" -R "$@" >"$log" 2>&1
else
  "$@" >"$log" 2>&1
fi
rc=$?
tail -n 20 "$log"
if [ "$rc" -ne 0 ]; then
  echo "--- the fuzzing run failed (exit $rc); why, from $log:"
  grep -E '^(fuzz: |  \[|  +[0-9]+ |  dialog |ALARM|==[0-9]+== ?ERROR|SUMMARY|MS: |artifact_prefix)' "$log" | tail -n 60
fi
exit "$rc"
