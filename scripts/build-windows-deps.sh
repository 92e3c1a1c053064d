#!/usr/bin/env bash
# Cross-builds every library vemtora links, for 64-bit Windows with MinGW-w64, from Debian's own
# source packages (with Debian's patches), as static libraries into a prefix outside the tree:
#   ${VEMTORA_CACHE:-~/.cache/vemtora}/mingw-<key>/
# The key is made from the source packages' versions, the cross compiler's version and `recipe`
# below, so a prefix is reused as long as none of them changes; only the first run on a machine
# pays for the build. The sources come through
# a private apt configuration under the cache folder, at the addresses of the system's apt
# sources (scripts/apt-sources.sh); the system's apt configuration is left alone.
# Prints the prefix on its last line of stdout; everything else goes to stderr.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
cache="${VEMTORA_CACHE:-$HOME/.cache/vemtora}"
jobs="${JOBS:-$(nproc)}"
triple=x86_64-w64-mingw32
# Raise this whenever the way a library is built changes, so that old prefixes are not reused.
recipe=2
toolchain="$root/cmake/mingw-w64.cmake"

# Source package -> what is built from it. Order matters: zlib before curl and libzip,
# fmt before spdlog.
sources=(zlib fmtlib spdlog yaml-cpp cli11 pcre2 cmark-gfm libzip curl googletest icu)

log() { echo "build-windows-deps: $*" >&2; }

# --- private apt configuration: deb-src lines for the running Debian release ---------------------
# at the addresses the system's own sources use (a mirror or proxy included).
. "$here/apt-sources.sh"
apt_dir="$cache/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/preferences.d"
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
source_lines="$(deb_src_lines "$codename" /etc/apt)"
if [ "$(cat "$apt_dir/etc/sources.list" 2>/dev/null)" != "$source_lines" ]; then
  printf '%s\n' "$source_lines" >"$apt_dir/etc/sources.list"
  # Other addresses: the index is fetched again from them.
  rm -f "$apt_dir/lists/"*Sources*
fi
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/etc/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d"
  -o "Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=$(id -un)"
)
mkdir -p "$apt_dir/etc/sources.list.d"
# The index is refreshed once a day at most.
if [ -z "$(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 2>/dev/null | head -n 1)" ]; then
  log "fetching the source index"
  apt-get "${apt_opts[@]}" -qq update >&2
fi

versions_of() {  # every version of a source package the index offers, newest first
  apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null | awk -v p="$1" '
    /^Package: / { pkg = $2 } /^Version: / && pkg == p { print $2 }' | sort -rV | uniq
}
manifest=""
for s in "${sources[@]}"; do
  v="$(versions_of "$s" | tr '\n' ' ')"
  [ -n "$v" ] || { log "no source package '$s' in $codename"; exit 1; }
  manifest+="$s: $v"$'\n'
done
key="$( (printf '%s' "$manifest"; echo "recipe $recipe"; $triple-g++-posix -dumpfullversion) \
  | sha256sum | cut -c1-16)"
prefix="$cache/mingw-$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
log "building into $prefix with $jobs jobs (log files in $work)"

fetch() {  # fetch PACKAGE -> prints the unpacked source folder
  # The newest version first; a mirror without the security suite's pool falls back to the release.
  local pkg="$1" dir="$work/src-$1" v
  for v in $(versions_of "$pkg"); do
    rm -rf "$dir" && mkdir -p "$dir"
    if (cd "$dir" && apt-get "${apt_opts[@]}" -qq source "$pkg=$v" >"$work/fetch-$pkg.log" 2>&1); then
      echo "$pkg=$v" >>"$prefix/versions.txt"
      find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
      return 0
    fi
  done
  log "cannot fetch the source of $pkg; see $work/fetch-$pkg.log"
  return 1
}

cmake_build() {  # cmake_build SOURCE_DIR NAME [cmake options...] [--target T: build T, no install]
  local src="$1" name="$2" target=() opts=(); shift 2
  while [ $# -gt 0 ]; do
    if [ "$1" = --target ]; then target=(--target "$2"); shift 2; else opts+=("$1"); shift; fi
  done
  cmake -S "$src" -B "$work/build-$name" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVEMTORA_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "${opts[@]}" >"$work/$name.log" 2>&1 \
    && cmake --build "$work/build-$name" -j "$jobs" "${target[@]}" >>"$work/$name.log" 2>&1 \
    && { [ ${#target[@]} -gt 0 ] || cmake --install "$work/build-$name" >>"$work/$name.log" 2>&1; } \
    || { log "$name failed; see $work/$name.log"; tail -n 30 "$work/$name.log" >&2; return 1; }
}

# library NAME SOURCE_PACKAGE [cmake_build options...]: fetched, built and installed, with a
# line as it starts and one with its time as it ends, since everything else goes to log files.
# Leaves the unpacked source folder in `src`.
library() {
  local name="$1" pkg="$2" start=$SECONDS; shift 2
  log "$name: started"
  src="$(fetch "$pkg")"
  cmake_build "$src" "$name" "$@"
  log "$name: done in $((SECONDS - start)) s"
}

build_cmake_libraries() {
  # Debian's zlib source has no win32/ folder (its resource file): only the static library.
  library zlib zlib --target zlibstatic
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$src/zlib.h" "$work/build-zlib/zconf.h" "$prefix/include/"
  cp "$work/build-zlib/libzlibstatic.a" "$prefix/lib/libz.a"

  library fmt fmtlib -DFMT_DOC=OFF -DFMT_TEST=OFF

  library spdlog spdlog -DSPDLOG_FMT_EXTERNAL=ON -DSPDLOG_BUILD_EXAMPLE=OFF \
    -DSPDLOG_BUILD_TESTS=OFF -DSPDLOG_BUILD_BENCH=OFF

  library yaml-cpp yaml-cpp -DYAML_CPP_BUILD_TESTS=OFF -DYAML_CPP_BUILD_TOOLS=OFF \
    -DYAML_CPP_BUILD_CONTRIB=OFF -DYAML_BUILD_SHARED_LIBS=OFF

  library cli11 cli11 -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF \
    -DCLI11_BUILD_DOCS=OFF -DCLI11_PRECOMPILED=OFF

  library pcre2 pcre2 -DPCRE2_SUPPORT_JIT=ON -DPCRE2_BUILD_PCRE2GREP=OFF \
    -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
    -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF

  library cmark-gfm cmark-gfm -DCMARK_TESTS=OFF -DCMARK_SHARED=OFF -DCMARK_STATIC=ON

  library libzip libzip -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
    -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF

  library curl curl -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DENABLE_MANUAL=OFF -DBUILD_CURL_EXE=OFF -DCURL_ZLIB=ON -DCURL_STATICLIB=ON

  library googletest googletest -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
}

build_icu() {
  # ICU's cross build runs its own tools on the build machine: a native copy first.
  local s common dat icupkg start=$SECONDS
  log "icu: started"
  s="$(fetch icu)"
  common=(--disable-tests --disable-samples --disable-extras --disable-layoutex)
  mkdir -p "$work/icu-native" "$work/icu-cross"
  (cd "$work/icu-native" && CC=gcc CXX=g++ "$s/source/configure" "${common[@]}" \
      --disable-shared --enable-static \
    && make -j "$jobs") >"$work/icu-native.log" 2>&1 \
    || { log "native ICU failed; see $work/icu-native.log"; tail -n 30 "$work/icu-native.log" >&2; return 1; }
  # Of ICU's data the program reads one piece: the compatibility decompositions (nfkc.nrm)
  # that heading ids are made with; case mapping and character properties are built into the
  # code. The package is cut down to it, since the whole (some 30 MB) would make the program
  # six times larger. Without the piece ICU has only its empty stub, and heading ids would
  # lose accented letters instead of their accents, on Windows alone.
  dat="$(ls "$s"/source/data/in/icudt*l.dat)"
  icupkg="$work/icu-native/bin/icupkg"
  mkdir -p "$work/icu-data/items" "$work/icu-data/package"
  ("$icupkg" -x nfkc.nrm -d "$work/icu-data/items" "$dat" \
    && "$icupkg" -s "$work/icu-data/items" -a nfkc.nrm new "$work/icu-data/package/${dat##*/}" \
    && cp "$work/icu-data/package/${dat##*/}" "$dat") >"$work/icu-data.log" 2>&1 \
    || { log "ICU's data package failed; see $work/icu-data.log"; tail -n 30 "$work/icu-data.log" >&2; return 1; }
  # The data library is installed where a DLL would go, under a name without "lib"; the
  # lib/libsicudt.a that the link finds is ICU's stub until the data takes its place.
  (cd "$work/icu-cross" && "$s/source/configure" "${common[@]}" --host="$triple" \
      --with-cross-build="$work/icu-native" --disable-shared --enable-static --disable-tools \
      --with-data-packaging=static --prefix="$prefix" \
      CC="$triple-gcc-posix" CXX="$triple-g++-posix" AR="$triple-ar" RANLIB="$triple-ranlib" \
      CPPFLAGS="-DU_STATIC_IMPLEMENTATION" \
    && make -j "$jobs" && mkdir -p "$prefix/bin" && make install \
    && mv "$prefix/bin/sicudt.a" "$prefix/lib/libsicudt.a") >"$work/icu-cross.log" 2>&1 \
    || { log "cross ICU failed; see $work/icu-cross.log"; tail -n 30 "$work/icu-cross.log" >&2; return 1; }
  log "icu: done in $((SECONDS - start)) s"
}

start=$SECONDS
# ICU is the longest: it builds beside the CMake libraries, each using every core. Each runs in a
# subshell of its own so that `set -e` stops it at its first failure.
build_icu &
icu_pid=$!
build_cmake_libraries &
libs_pid=$!
status=0
wait "$libs_pid" || status=1
wait "$icu_pid" || status=1
[ "$status" -eq 0 ] || { log "failed; the sources and logs stay in $work"; exit 1; }

touch "$prefix/.complete"
rm -rf "$work"
log "done in $((SECONDS - start)) s"
echo "$prefix"
