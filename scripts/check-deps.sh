#!/usr/bin/env bash
# Checks that scripts/install-deps.sh installs what a build used, so that a
# bare machine gets it too: every Debian package whose files the build read
# (ninja's records of the headers each object included, the libraries it
# linked, the files configure read) and that owns a program configure, the
# tests or cpack run. Each must be named in install-deps.sh, or be a dependency
# (direct or not) of one it names.
#
#   scripts/check-deps.sh [BUILD_DIR] [native|all]    default: build all
#
# Prints each missing package with what needed it, and exits 1 if any.
# The compiler launcher (ccache, say) is the builder's choice, not the
# build's, and is not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath "${1:-build}")
set_name=${2:-all}
[ -f "$build/build.ninja" ] || { echo "check-deps: no ninja build in $build" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files the build read, as it named them (absolute paths).
build_files() {
  ninja -C "$build" -t deps | sed -n 's/^    //p'
  # Configure's inputs: the rule that re-runs CMake depends on all of them.
  ninja -C "$build" -t query build.ninja | sed -n 's/^    | //p'
  grep -h '^  LINK_LIBRARIES = ' "$build/build.ninja" | tr ' ' '\n' | grep '^/' || true
}

# The programs configure and the tests run, as paths.
programs() {
  local name
  # Those configure chose, from its cache.
  sed -n -E 's/^(CMAKE_(C|CXX)_COMPILER|CMAKE_(AR|NM|RANLIB|LINKER|MAKE_PROGRAM)|PKG_CONFIG_EXECUTABLE|WENDLOW_DEBIAN_PYTHON):[A-Z]+=(\/.+)$/\4/p' \
    "$build/CMakeCache.txt"
  command -v cmake
  # The other presets' compilers and emulators.
  sed -n -E 's/^set\(WENDLOW_CROSS_TRIPLE ([^ )]+)\)/\1-gcc\n\1-g++/p; s/^set\(WENDLOW_CROSS_QEMU ([^ )]+)\)/\1/p' \
    cmake/toolchains/*.cmake
  sed -n -E 's/.*"CMAKE_CXX_COMPILER": "([^"]+)".*/\1/p' CMakePresets.json
  # Those the tests start: the picture's renderer and the page's browsers;
  # and those `cpack -G DEB` runs for the package's dependencies.
  for name in rsvg-convert chromium chromedriver firefox-esr dpkg-shlibdeps file; do echo "$name"; done
}

# Resolves program names on PATH; a program not found is reported.
resolve_programs() {
  local p path
  while read -r p; do
    case $p in
      /*) path=$p ;;
      *) path=$(command -v "$p") || { echo "MISSING-PROGRAM $p"; continue; } ;;
    esac
    echo "$path"
  done
}

# Reads paths; prints "path<TAB>candidate" for each name the path may have
# in dpkg's records: as written (normalised), across the merged /usr, and
# with its links resolved. Paths inside the source or build tree are
# dropped unless a link leads out of them.
candidates() {
  sort -u >"$work/paths"
  (cd "$build" && xargs -d '\n' -r realpath -m -s -- <"$work/paths" >"$work/plain")
  (cd "$build" && xargs -d '\n' -r realpath -m -- <"$work/paths" >"$work/resolved")
  paste "$work/plain" "$work/resolved" | awk -F'\t' -v src="$source_dir/" -v bld="$build/" '
    function inside(p) { return index(p, src) == 1 || index(p, bld) == 1 }
    function emit(orig, p) {
      print orig "\t" p
      if (p ~ /^\/usr\/(lib|lib32|lib64|bin|sbin)\//) print orig "\t" substr(p, 5)
      else if (p ~ /^\/(lib|lib32|lib64|bin|sbin)\//) print orig "\t/usr" p
    }
    inside($2) { next }
    { orig = inside($1) ? $2 : $1; if (!inside($1)) emit(orig, $1); emit(orig, $2) }'
}

# Reads "path<TAB>candidate"; prints "package<TAB>path" for the first
# candidate of each path that a package owns, and "UNOWNED<TAB>path" for a
# path no package owns.
owners() {
  cat >"$work/candidates"
  cut -f2 "$work/candidates" | sort -u >"$work/names"
  awk 'NR == FNR { want[$0] = 1; next }
       ($0 in want) { pkg = FILENAME; sub(/.*\//, "", pkg); sub(/\.list$/, "", pkg); sub(/:.*/, "", pkg)
                      print $0 "\t" pkg }' "$work/names" /var/lib/dpkg/info/*.list >"$work/owned"
  awk -F'\t' 'NR == FNR { if (!($1 in owner)) owner[$1] = $2; next }
       { if (!($1 in order)) { order[$1] = ++n; path[n] = $1 }
         if (!($1 in found) && ($2 in owner)) found[$1] = owner[$2] }
       END { for (i = 1; i <= n; i++) print ((path[i] in found) ? found[path[i]] : "UNOWNED") "\t" path[i] }' \
    "$work/owned" "$work/candidates"
}

# The packages install-deps.sh names and all they depend on, as installed
# here (an alternative counts whichever of its choices is installed).
closure() {
  # shellcheck disable=SC2046
  apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $(scripts/install-deps.sh --list "$set_name") |
    sed -n -E 's/^<?([^ :>]+)(:[a-z0-9]+)?>?$/\1/p' | sort -u
}

{ build_files; programs | resolve_programs; } | grep -v '^MISSING-PROGRAM ' | candidates | owners >"$work/needed"
programs | resolve_programs | sed -n 's/^MISSING-PROGRAM //p' >"$work/no-program"
closure >"$work/installed-by-script"

status=0
while read -r p; do
  echo "check-deps: program $p is not installed here: cannot tell which package provides it"
  status=1
done <"$work/no-program"
while IFS=$'\t' read -r pkg path; do
  echo "check-deps: $path belongs to no Debian package"
  status=1
done < <(grep '^UNOWNED' "$work/needed" || true)
while read -r pkg; do
  example=$(awk -F'\t' -v p="$pkg" '$1 == p { print $2 }' "$work/needed" | head -n 3 | tr '\n' ' ')
  echo "check-deps: package $pkg is not installed by scripts/install-deps.sh $set_name (needed for: ${example% })"
  status=1
done < <(cut -f1 "$work/needed" | grep -v '^UNOWNED$' | sort -u | comm -23 - "$work/installed-by-script")
if [ $status -eq 0 ]; then
  echo "check-deps: the $(cut -f1 "$work/needed" | sort -u | wc -l) packages the build in $build used are all installed by scripts/install-deps.sh $set_name"
fi
exit $status
