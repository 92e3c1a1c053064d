#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks use.
# Idempotent: packages already present are skipped, so a second run costs one dpkg query.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libcli11-dev libyaml-cpp-dev libfmt-dev libspdlog-dev libpcre2-dev libicu-dev
  libcmark-gfm-dev libcmark-gfm-extensions-dev libcurl4-openssl-dev libzip-dev
  libgtest-dev libgmock-dev clang-tools
  bash python3
)
# Extra groups, asked for by name: `install-deps.sh browser bench fuzz windows`.
for group in "$@"; do
  case "$group" in
    browser) packages+=(chromium) ;;
    bench)   packages+=(hyperfine python3-markdown pandoc cmark-gfm zip time) ;;
    fuzz)    packages+=(clang libclang-rt-14-dev) ;;
    # The MinGW-w64 cross compiler, wine to run the Windows tests, and what fetching and
    # unpacking Debian's source packages for the Windows dependencies takes.
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev xz-utils) ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
