#!/usr/bin/env bash
# Builds Korvane for 64-bit and 32-bit Windows in Release and writes the
# release files to dist/:
#   Korvane-<version>-setup.exe, Korvane-<version>-x64.zip,
#   Korvane-<version>-x86.zip and SHA256SUMS.
# Usage: release.sh [--update-host HOST[:PORT]] [--date-host HOST[:PORT]]
#                   [--publisher-url URL] [--account NUMBER] [--out DIR]
#                   [--sign-pkcs12 FILE [--timestamp-url URL]]
# An option left out takes the default of its CMake cache variable
# (KORVANE_UPDATE_HOST, KORVANE_DATE_HOST, KORVANE_PUBLISHER_URL,
# KORVANE_ACCOUNT), not a value from an earlier release build.
# --sign-pkcs12 signs every shipped executable with the certificate in FILE;
# its password comes from the environment variable KORVANE_SIGN_PASSWORD.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage() { sed -n '2,13p' "$0" >&2; exit 2; }

declare -A values=()
out=$root/dist
sign=()
while (($#)); do
  (($# >= 2)) || usage
  case $1 in
    --update-host)   values[KORVANE_UPDATE_HOST]=$2 ;;
    --date-host)     values[KORVANE_DATE_HOST]=$2 ;;
    --publisher-url) values[KORVANE_PUBLISHER_URL]=$2 ;;
    --account)       values[KORVANE_ACCOUNT]=$2 ;;
    --out)           out=$2 ;;
    --sign-pkcs12 | --timestamp-url) sign+=("$1" "$2") ;;
    *) usage ;;
  esac
  shift 2
done
if [[ -n "${values[KORVANE_ACCOUNT]:-}" && ! ${values[KORVANE_ACCOUNT]} =~ ^[0-9]+$ ]]; then
  echo "release.sh: --account takes a decimal number" >&2
  exit 2
fi

if ((${#sign[@]})) && [[ -z "${KORVANE_SIGN_PASSWORD+set}" ]]; then
  echo "release.sh: set KORVANE_SIGN_PASSWORD to the certificate's password" >&2
  exit 2
fi

"$root/scripts/setup.sh"

options=()
for name in KORVANE_UPDATE_HOST KORVANE_DATE_HOST KORVANE_PUBLISHER_URL KORVANE_ACCOUNT; do
  if [[ -n "${values[$name]+set}" ]]; then
    options+=("-D$name=${values[$name]}")
  else
    options+=("-U$name")  # back to the default in CMakeLists.txt
  fi
done
options+=(-UKORVANE_TEST_VERSION)  # a release has the project version

build() {  # build FOLDER TOOLCHAIN
  echo "== build $1"
  cmake -S "$root" -B "$root/build/$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" "${options[@]}" >/dev/null
  cmake --build "$root/build/$1" --target Korvane Update
}
build release-win64 toolchain-x86_64-w64-mingw32.cmake
build release-win32 toolchain-i686-w64-mingw32.cmake

"$root/installer/package.sh" "$root/build/release-win64" "$root/build/release-win32" "$out" \
  "${sign[@]}"
