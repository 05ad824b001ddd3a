#!/usr/bin/env bash
# Cross-builds Orlin for 64-bit Windows with MinGW-w64 and runs its tests under Wine.
#
#   scripts/windows.sh [deps|build|test|all|ci]   (default: all)
#
# deps   installs the cross compiler and Wine from Debian, then builds Qt Core
#        (with host moc and rcc), OpenSSL, libmosquitto, googletest and Google
#        Benchmark for Windows from Debian's source packages, once, into
#        $ORLIN_WINDOWS_CACHE/<key> (default /var/cache/orlin-windows, or
#        ~/.cache/orlin-windows when that is not writable). The key is derived
#        from the source versions, the compiler and this recipe, so a second run
#        reuses the folder.
# build  cross-builds the project into ${WINDOWS_BUILD_DIR:-build-windows},
#        through ccache with its folder in $ORLIN_WINDOWS_CACHE/ccache.
# test   runs ctest there under Wine.
# ci     all, timed, with any complete dependency cache taken as it is.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
step="${1:-all}"
jobs="${ORLIN_WINDOWS_JOBS:-2}"
recipe=1   # bump when the way the dependencies are built changes

log() { printf '[windows %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

cache_root="${ORLIN_WINDOWS_CACHE:-/var/cache/orlin-windows}"
if ! mkdir -p "$cache_root" 2>/dev/null || [ ! -w "$cache_root" ]; then
  cache_root="$HOME/.cache/orlin-windows"
  mkdir -p "$cache_root"
fi

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev cmake make pkg-config g++ perl python3 clang-14
                  ccache mosquitto)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  log "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# ---- Debian source packages through a private source list --------------------

apt_dir="$cache_root/apt"
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User=root)

apt_refresh() {
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  local key=/usr/share/keyrings/debian-archive-keyring.gpg
  cat > "$apt_dir/sources.list" <<LIST
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm-updates main
LIST
  apt-get "${apt_opts[@]}" -qq update || log "apt-get update failed; using the source lists already there"
}

# Newest version of a source package the lists know.
src_version() {
  local best="" v
  for v in $(apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null | awk -v p="$1" '/^Package:/{ok=($2==p)} ok&&/^Version:/{print $2}'); do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best="$v"; fi
  done
  [ -n "$best" ] || { log "no source package $1 in the lists"; return 1; }
  echo "$best"
}

declare -A versions
sources=(qtbase-opensource-src openssl mosquitto googletest benchmark)

compute_key() {
  local s desc="recipe=$recipe mingw=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)"
  for s in "${sources[@]}"; do
    versions[$s]="$(src_version "$s")"
    desc+=" $s=${versions[$s]}"
  done
  log "dependencies: $desc"
  key="$(echo "$desc" | sha256sum | cut -c1-16)"
}

# Unpacks a source package (Debian's patches applied) into $work/src/<name>.
fetch() {
  local name="$1" ver="${versions[$1]}" dir="$work/src/$1"
  rm -rf "$dir" "$dir.tmp"   # fresh, since builds patch their sources
  mkdir -p "$work/dl" "$work/src"
  (cd "$work/dl" && apt-get "${apt_opts[@]}" -qq source --download-only "$name=$ver")
  local dsc
  dsc="$(ls "$work/dl/${name}_${ver#*:}.dsc")"
  dpkg-source -x "$dsc" "$dir.tmp" >/dev/null 2>&1 || { log "unpacking $dsc failed"; return 1; }
  mv "$dir.tmp" "$dir"
}

timed() {   # timed <label> <command...>
  local t0=$SECONDS
  log "building $1"
  "${@:2}"
  log "built $1 in $((SECONDS - t0)) s"
  echo "$1 $((SECONDS - t0))" >> "$prefix/build-times.txt"
}

build_openssl() {
  local s="$work/src/openssl"
  cd "$s"
  nice ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
    --prefix="$prefix" --libdir=lib shared no-tests >/dev/null
  nice make -j"$jobs" build_libs >/dev/null
  make install_dev install_runtime_libs >/dev/null
}

build_qt() {
  local s="$work/src/qtbase-opensource-src" b="$work/build/qt"
  mkdir -p "$b"
  cd "$b"
  # configure builds qmake with a plain make, which takes its jobs from here.
  MAKEFLAGS="-j$jobs" nice "$s/configure" -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
    -prefix "$prefix/qt" -opensource -confirm-license -release -shared \
    -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl -qt-pcre -qt-zlib \
    -nomake examples -nomake tests -make libs -make tools -silent >"$work/qt-configure.log" 2>&1 \
    || { tail -40 "$work/qt-configure.log"; return 1; }
  # src/Makefile comes from the top-level one; then only corelib and the two
  # host tools it needs (with the bootstrap library) are built.
  { nice make sub-src-qmake_all && nice make -C src -j"$jobs" sub-corelib sub-moc sub-rcc; } >"$work/qt-make.log" 2>&1 \
    || { tail -40 "$work/qt-make.log"; return 1; }
  make -C src sub-corelib-install_subtargets sub-moc-install_subtargets sub-rcc-install_subtargets >/dev/null
  make install_mkspecs >/dev/null
  cp bin/qmake "$prefix/qt/bin/"   # Qt5Core's CMake files check that it is there
}

cmake_dep() {   # cmake_dep <source> <build> <cmake options...>
  nice cmake -Wno-dev -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DORLIN_WINDOWS_DEPS="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib "${@:3}" >/dev/null
  nice cmake --build "$2" -j"$jobs" >/dev/null
  cmake --install "$2" >/dev/null
}

build_mosquitto() {
  local s="$work/src/mosquitto"
  # The threading support links an MSVC pthread build on any Windows target;
  # MinGW-w64 brings its own pthreads.
  sed -i '/-DWITH_THREADING/{n;s/if (WIN32)/if (MSVC)/}' "$s/CMakeLists.txt"
  cmake_dep "$s" "$work/build/mosquitto" -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF \
    -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF -DWITH_CJSON=OFF -DWITH_LIB_CPP=OFF \
    -DWITH_STATIC_LIBRARIES=OFF -DWITH_TLS=ON -DWITH_THREADING=ON -DOPENSSL_ROOT_DIR="$prefix"
  # Its install rule leaves the import library out.
  local implib
  implib="$(find "$work/build/mosquitto" -name 'libmosquitto.dll.a' | head -1)"
  [ -n "$implib" ] && cp "$implib" "$prefix/lib/"
}

build_googletest() {
  cmake_dep "$work/src/googletest" "$work/build/googletest" -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=ON
}

build_benchmark() {
  cmake_dep "$work/src/benchmark" "$work/build/benchmark" -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_ENABLE_LTO=OFF \
    -DGIT_VERSION=0.0.0   # Debian's source asks no git for its version
}

deps() {
  install_packages
  apt_refresh
  compute_key
  prefix="$cache_root/$key"
  # ORLIN_WINDOWS_ONLY="<source package> ..." builds just those, in a work
  # folder of their own, so they can run beside a full dependency build.
  local only="${ORLIN_WINDOWS_ONLY:-}"
  work="$cache_root/work-$key${only:+-${only// /-}}"
  if [ -f "$prefix/.complete" ]; then
    log "dependency cache present: $prefix"
    return 0
  fi
  mkdir -p "$prefix" "$work/bin"
  # The compilers by their plain names, in the posix-thread variant whatever
  # the system's alternatives say.
  local t
  for t in gcc g++ c++; do
    ln -sf "/usr/bin/x86_64-w64-mingw32-${t/c++/g++}-posix" "$work/bin/x86_64-w64-mingw32-$t"
  done
  export PATH="$work/bin:$PATH"
  local order=(openssl qtbase-opensource-src mosquitto googletest benchmark)
  local s fn
  for s in "${order[@]}"; do
    [ -f "$prefix/.done-$s" ] && continue
    [ -n "$only" ] && [[ " $only " != *" $s "* ]] && continue
    fetch "$s"
    case "$s" in qtbase-opensource-src) fn=build_qt ;; *) fn="build_$s" ;; esac
    timed "$s" "$fn"
    touch "$prefix/.done-$s"
  done
  rm -rf "$work"
  [ -n "$only" ] && return 0
  touch "$prefix/.complete"
  log "dependency cache ready: $prefix"
}

deps_prefix() {   # the prefix of the newest complete cache
  local p
  p="$(ls -dt "$cache_root"/*/.complete 2>/dev/null | head -1)"
  [ -n "$p" ] || { log "no dependency cache; run: scripts/windows.sh deps"; return 1; }
  dirname "$p"
}

# ---- the project ----------------------------------------------------------------

build_dir="${WINDOWS_BUILD_DIR:-$root/build-windows}"
wine="${ORLIN_WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}"
wineserver="$(command -v wineserver || echo "$(dirname "$wine")/wineserver")"

# Wine's settings for every program run here, the build's test discovery
# included: a prefix of our own, no debug chatter, and the DLLs of the
# dependencies and the MinGW runtime on the search path (not the plug-in's
# folder: tests put their own wyln.dll beside the executable).
wine_env() {
  local deps="$1" runtime="$build_dir/runtime"
  mkdir -p "$runtime"
  cp -u /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libstdc++-6.dll /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libgcc_s_seh-1.dll \
        /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$deps"/bin/*.dll "$deps"/qt/bin/*.dll "$runtime/"
  export WINEPREFIX="$cache_root/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPATH="$(winpath "$runtime");$(winpath "$build_dir")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Wine finishes a new prefix in the background, and a program started
    # meanwhile waits for it: long enough to fail a test discovery.
    log "creating the Wine prefix $WINEPREFIX"
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w || true
  fi
  # One wineserver for every program: starting each one then takes a blink
  # instead of seconds (it ends 30 s after the last one). It and Wine's
  # services (started by the first program) outlive the programs, so they
  # must not hold a pipe that a caller reads to its end: both start here
  # with no output attached.
  "$wineserver" -p30 </dev/null >/dev/null 2>&1 || true
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

winpath() { local p="${1//\//\\}"; echo "Z:$p"; }

build() {
  local deps
  deps="$(deps_prefix)"
  wine_env "$deps"
  local launcher=()
  if command -v ccache >/dev/null; then
    # Its own folder beside the dependencies, paths taken relative to the
    # checkout: a clean checkout elsewhere compiles from it.
    export CCACHE_DIR="${ORLIN_WINDOWS_CCACHE:-$cache_root/ccache}" CCACHE_BASEDIR="$root" CCACHE_MAXSIZE=2G
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  local t0=$SECONDS
  cmake -S "$root" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DORLIN_WINDOWS_DEPS="$deps" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  nice cmake --build "$build_dir" -j"$jobs"
  log "cross-built in $((SECONDS - t0)) s"
}

# A mosquitto broker on the Linux side, on a free loopback port, for the
# plug-in's tests and the cross-system run; stopped when the script ends.
start_broker() {
  local dir="$build_dir/broker" mosquitto
  mosquitto="$(command -v mosquitto || echo /usr/sbin/mosquitto)"
  mkdir -p "$dir"
  broker_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  {
    [ "$(id -u)" -eq 0 ] && echo "user root"
    printf '%s\n' "per_listener_settings false" "persistence false" "allow_anonymous true" \
      "listener $broker_port 127.0.0.1" "max_packet_size 16777216" "max_inflight_messages 100" \
      "max_queued_messages 10000" "set_tcp_nodelay true" "log_dest file $dir/broker.log"
  } > "$dir/mosquitto.conf"
  "$mosquitto" -c "$dir/mosquitto.conf" 2>>"$dir/broker.log" &
  broker_pid=$!
  trap 'kill "$broker_pid" 2>/dev/null || true' EXIT
  local i
  for i in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $broker_port), 0.2)" 2>/dev/null && break
    sleep 0.05
  done
  export ORLIN_BROKER_HOST=127.0.0.1 ORLIN_BROKER_PORT="$broker_port"
  log "Linux broker on 127.0.0.1:$broker_port"
}

# The file-transfer benchmark under Wine: both directions must hold the same
# ratios as on Linux against the MD5 bound and plain Qt.
# A run below target is repeated once: other work on the machine slows the
# parts of one run unevenly.
check_bench() {
  bench_once || { log "benchmark below target; once more"; bench_once; }
}

bench_once() {
  local out t0=$SECONDS
  out="$("$wine" "$build_dir/bench/bench_file_transfer.exe" --benchmark_min_time=0.5 2>&1 | tr -d '\r')" || true
  echo "$out" | grep -E '^(Md5Bound|Send|Recv|Sending|Receiving)'
  log "benchmark in $((SECONDS - t0)) s"
  echo "$out" | awk '
    /^(Sending|Receiving):/ {
      n++
      match($0, /\(x[0-9.]+, target [0-9.]+\)/); a = substr($0, RSTART, RLENGTH); gsub(/[(x,)]|target/, "", a); split(a, b, " ")
      rest = substr($0, RSTART + RLENGTH)
      match(rest, /\(x[0-9.]+, target [0-9.]+\)/); c = substr(rest, RSTART, RLENGTH); gsub(/[(x,)]|target/, "", c); split(c, d, " ")
      if (b[1] + 0 < b[2] + 0 || d[1] + 0 < d[2] + 0) { print "below target: " $0; bad = 1 }
    }
    END { exit (n == 2 && !bad) ? 0 : 1 }'
}

# One print job across the two systems: the Linux demo runs the broker, the
# service and the client console; the printer is the Windows orlin_printer.exe
# with Orlin.dll and wyln.dll, under Wine.
check_cross_system() {
  local linux_build="${LINUX_BUILD_DIR:-$root/build}" t0=$SECONDS
  if [ ! -x "$linux_build/tools/orlin_demo" ]; then
    log "cross-system run skipped: no Linux build at $linux_build (LINUX_BUILD_DIR)"
    return 1
  fi
  "$linux_build/tools/orlin_demo" --size-mib 16 --copies 1 \
    --printer "$wine $build_dir/tools/orlin_printer.exe" | tr -d '\r' | tee "$build_dir/cross-system.log" | grep -E 'SUMMARY|failed at|^ *(ok|FAIL)'
  log "cross-system run in $((SECONDS - t0)) s"
  grep -q "SUMMARY OK" "$build_dir/cross-system.log" && grep -q "md5 verified" "$build_dir/cross-system.log"
}

run_tests() {
  local deps failed=0 t0=$SECONDS
  deps="$(deps_prefix)"
  wine_env "$deps"
  log "interface tables in the Microsoft and Itanium ABIs"
  python3 "$root/tests/abi/check_vtables.py" "$(command -v clang++-14 || command -v clang++)" "$root/include" || failed=1
  start_broker
  log "ctest under Wine"
  (cd "$build_dir" && ctest -j1 --timeout 300 --output-on-failure -LE 'stress|leak|package|e2e') || failed=1
  log "ctest under Wine took $((SECONDS - t0)) s"
  check_bench || failed=1
  check_cross_system || failed=1
  log "Windows tests took $((SECONDS - t0)) s in all"
  return $failed
}

case "$step" in
  deps) deps ;;
  build) build ;;
  test) run_tests ;;
  all) deps && build && run_tests ;;
  # A CI run takes the cache there is, newer Debian sources or not: it must
  # not turn into an hour of dependency builds. Without one it builds it.
  # It builds afresh from a fixed path, a link to the checkout in the cache
  # folder: compile lines then name the same paths whatever the checkout's,
  # and ccache finds its entries.
  ci) t0=$SECONDS
      if deps_prefix >/dev/null 2>&1; then install_packages; else deps; fi
      ln -sfn "$root" "$cache_root/checkout"
      export LINUX_BUILD_DIR="${LINUX_BUILD_DIR:-$root/build}"
      root="$cache_root/checkout" build_dir="${WINDOWS_BUILD_DIR:-$cache_root/build-ci}"
      rm -rf "$build_dir"
      build && run_tests
      log "Windows job took $((SECONDS - t0)) s" ;;
  *) echo "usage: $0 [deps|build|test|all|ci]" >&2; exit 2 ;;
esac
