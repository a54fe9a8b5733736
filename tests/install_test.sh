#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed simhost
# from elsewhere, with no option naming its plug-in: on the sample drawing
# (the same output as the built simhost), and as `simhost serve`, whose
# page and menus must be served.
#   install_test.sh CMAKE BUILD_DIR BUILT_SIMHOST [serve]
set -euo pipefail
cmake=$1 build=$2 built=$3 serve=${4:-}
prefix=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
for f in bin/simhost lib/wendlow-brindle/plugins/WendlowBrindle.so \
         lib/wendlow-brindle/plugins/WendlowBrindle.resources.json; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
# Only the program and the shipped plug-in: no test plug-ins, no libraries.
extra=$(find "$prefix" -type f -printf '%P\n' | grep -v -x -e bin/simhost \
  -e lib/wendlow-brindle/plugins/WendlowBrindle.so -e lib/wendlow-brindle/plugins/WendlowBrindle.resources.json || true)
[ -z "$extra" ] || fail "installed files nobody asked for: $extra"

cd "$prefix"  # away from the build tree
installed=$prefix/bin/simhost
"$installed" >"$prefix/installed.out" 2>"$prefix/installed.err" ||
  fail "installed simhost failed: $(cat "$prefix/installed.err")"
"$built" >"$prefix/built.out"
[ -s "$prefix/built.out" ] || fail "the built simhost printed nothing"
# The same, but for the plug-in's path, which must be the installed one.
plugin=$(realpath "$prefix/lib/wendlow-brindle/plugins/WendlowBrindle.so")
grep -q -F "loaded from $plugin" "$prefix/installed.out" ||
  fail "installed simhost did not load the installed plug-in: $(head -n 3 "$prefix/installed.out")"
cmp -s <(sed "s|$plugin|PLUGIN|" "$prefix/installed.out") \
  <(sed "s|$(realpath "$(dirname "$built")")/plugins/WendlowBrindle.so|PLUGIN|" "$prefix/built.out") ||
  fail "installed simhost's output differs: $(head -c 300 "$prefix/installed.out")"

# `simhost serve` on a free port: its first line is the address.
[ "$serve" = serve ] || exit 0
coproc SERVE { exec "$installed" serve --port 0 2>&1; }
server=$SERVE_PID
read -r -t 30 first <&"${SERVE[0]}" || fail "simhost serve printed no address"
port=$(sed -n -E 's|^simhost serving http://127\.0\.0\.1:([0-9]+).*|\1|p' <<<"$first")
[ -n "$port" ] || fail "simhost serve said: $first"
# get PATH: the response to an HTTP GET, through bash's own /dev/tcp.
get() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$1" "$port" >&3
  timeout 30 cat <&3
  exec 3<&-
}
page=$(get /)
grep -q '^HTTP/1.1 200' <<<"$page" || fail "GET / answered: $(head -n 1 <<<"$page")"
grep -qi '<html' <<<"$page" || fail "GET / is not the page"
menus=$(get /api/menus)
grep -q '^HTTP/1.1 200' <<<"$menus" || fail "GET /api/menus answered: $(head -n 1 <<<"$menus")"
grep -q 'Select' <<<"$menus" || fail "the installed plug-in's menus are missing: $(tail -c 300 <<<"$menus")"
echo "install_test: installed simhost ran the sample and served its page and the plug-in's menus"
