#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
#   scripts/install-deps.sh          everything (native, sanitizers, cross)
#   scripts/install-deps.sh native   what the native build and demo need
#   scripts/install-deps.sh --list [native|all]   the names only, one a line
#                                    (for scripts/check-deps.sh); installs nothing
set -euo pipefail
list=
if [ "${1:-}" = --list ]; then list=1; shift; fi

native=(cmake ninja-build g++ googletest libbenchmark-dev nlohmann-json3-dev
        libpugixml-dev libexpat1-dev zlib1g-dev libcli11-dev
        librsvg2-bin librsvg2-common   # rsvg-convert, and its loader of SVG images linked from a drawing
        libxml2-utils inkscape python3-pil   # the saved drawing's round trip: xmllint --c14n, Inkscape, pixels
        pkgconf libcpp-httplib-dev   # simhost serve's HTTP server, found through pkg-config
        dpkg-dev file   # dpkg-shlibdeps and file, for the runtime dependencies of `cpack -G DEB`
        chromium chromium-driver python3-selenium   # the browser tests of simhost serve's page
        firefox-esr)
cross=(g++-i686-linux-gnu g++-powerpc-linux-gnu qemu-user)
fuzz=(clang-14 libclang-rt-14-dev)

packages=("${native[@]}")
if [ "${1:-all}" != native ]; then packages+=("${cross[@]}" "${fuzz[@]}"); fi
if [ -n "$list" ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
