#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks use.
# Idempotent: packages already present are skipped, so a second run costs one dpkg query.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libcli11-dev libyaml-cpp-dev libfmt-dev libspdlog-dev libpcre2-dev libicu-dev
  libcmark-gfm-dev libcmark-gfm-extensions-dev libcurl4-openssl-dev libzip-dev zlib1g-dev
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
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
  # The Debian installer leaves sudo out when it is given a root password.
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps.sh: these packages are missing: ${missing[*]}" >&2
    echo "install-deps.sh: installing them takes root, and sudo is not installed. Run this as root" >&2
    echo "  (su -c 'bash $0${*:+ $*}'), or install sudo as root (apt-get install sudo), add yourself" >&2
    echo "  to its group (adduser $(id -un 2>/dev/null || echo NAME) sudo) and log in again." >&2
    exit 1
  fi
fi

# Another apt or dpkg often holds the package locks for a while (on a freshly booted machine,
# the daily upgrade): wait for them, up to ten minutes, instead of failing at once.
# DPkg::Lock::Timeout waits for dpkg's lock only; apt-get's own locks (the package lists, the
# download folder) fail at once, so a run that failed on one of those is tried again.
lock_wait=600
apt_get() {
  local start=$SECONDS out status
  out=$(mktemp)
  while :; do
    status=0
    $sudo env LC_ALL=C DEBIAN_FRONTEND=noninteractive \
      apt-get -o DPkg::Lock::Timeout=$lock_wait "$@" 2>&1 | tee "$out" || status=$?
    if [ "$status" -eq 0 ] || ! grep -q '^E: Could not get lock' "$out" \
        || [ $((SECONDS - start)) -ge $lock_wait ]; then
      rm -f "$out"
      return "$status"
    fi
    echo "install-deps.sh: another package manager holds the lock; trying again in 5 s" >&2
    sleep 5
  done
}
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
