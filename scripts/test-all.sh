#!/usr/bin/env bash
# Builds and runs the whole test suite on all four presets: x86-64,
# x86-64 with ASan and UBSan, 32-bit x86 and 32-bit big-endian PowerPC
# (the last two under qemu); then a short bounded fuzzing run (clang 14,
# libFuzzer with ASan and UBSan). After the default build, checks that
# scripts/install-deps.sh installs every package the build used
# (scripts/check-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan i386 ppc32 fuzz)
for preset in "${presets[@]}"; do
  start=$SECONDS
  echo "==== ${preset}"
  cmake --preset "${preset}"
  cmake --build --preset "${preset}"
  if [ "${preset}" = default ]; then scripts/check-deps.sh build all; fi
  ctest --preset "${preset}"
  echo "==== ${preset}: passed in $((SECONDS - start)) s"
done
