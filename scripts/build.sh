#!/usr/bin/env bash
# Configures and builds the build folders under build/:
#   native  g++ with ASan/UBSan: the portable core and its unit tests
#   fuzz    clang: the libFuzzer targets
#   win64   x86_64-w64-mingw32: Korvane.exe, Update.dll and the Wine tests
#   win32   i686-w64-mingw32: Korvane.exe and Update.dll
#   bench   g++ -O2: the native benchmarks
# Usage: build.sh [folder...]   (default: native fuzz win64 win32)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
# The Windows build that the tests run talks to the reference service on
# loopback (port KORVANE_TEST_PORT, 18080 unless set); a release build keeps
# the default hosts.
port=${KORVANE_TEST_PORT:-18080}
test_hosts=(-DKORVANE_UPDATE_HOST=127.0.0.1:$port -DKORVANE_DATE_HOST=127.0.0.1:$port
            -DKORVANE_PUBLISHER_URL=http://127.0.0.1:$port/publisher)

configure_and_build() {
  local dir=$1; shift
  cmake -S "$root" -B "$build/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$build/$dir"
}

folders=("$@")
((${#folders[@]})) || folders=(native fuzz win64 win32)

for f in "${folders[@]}"; do
  echo "== build $f"
  case $f in
    native) configure_and_build native -DCMAKE_BUILD_TYPE=RelWithDebInfo \
              -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DKORVANE_SANITIZE=ON ;;
    fuzz)   configure_and_build fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
              -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DKORVANE_FUZZ=ON ;;
    bench)  configure_and_build bench -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DKORVANE_BENCH=ON ;;
    win64)  configure_and_build win64 -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" "${test_hosts[@]}" ;;
    win32)  configure_and_build win32 -DCMAKE_BUILD_TYPE=Release \
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" "${test_hosts[@]}" ;;
    *) echo "build.sh: unknown folder $f" >&2; exit 2 ;;
  esac
done
