#!/usr/bin/env bash
# Builds the stand-in host and the plug-in, then runs simhost on its
# built-in sample drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target simhost WendlowBrindle
exec build/bin/simhost "$@"
