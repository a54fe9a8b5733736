#!/usr/bin/env bash
# Builds the stand-in host and the plug-in, then runs simhost on its
# built-in sample drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset default >/dev/null
cmake --build --preset default --target simhost WendlowBrindle
status=0
build/bin/simhost "$@" || status=$?
if [ $# -eq 0 ]; then
  echo
  echo "To use the plug-in from a web page: build/bin/simhost serve [FILE...]"
  echo "then open the address it prints (http://127.0.0.1:8731/ by default); Ctrl-C stops it."
fi
exit $status
