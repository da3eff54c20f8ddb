#!/usr/bin/env bash
# Makes the release files from a 64-bit and a 32-bit Windows build folder:
#   Korvane-<version>-setup.exe   one installer holding both architectures
#   Korvane-<version>-x64.zip     Korvane.exe, Update.dll, README.txt
#   Korvane-<version>-x86.zip     the same for 32-bit Windows
#   SHA256SUMS                    checksums of the three
# The version is the project version recorded in the build folders.
# Usage: package.sh X64_BUILD X86_BUILD OUT_DIR [--test-installer FILE]
#   --test-installer also builds the same installer for amd64-unicode (a
#   64-bit installer holding the 64-bit files only), for tests.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
(($# == 3 || $# == 5)) || { sed -n '2,11p' "$0" >&2; exit 2; }
x64_build=$(cd "$1" && pwd)
x86_build=$(cd "$2" && pwd)
mkdir -p "$3"
out=$(cd "$3" && pwd)
test_installer=
if (($# == 5)); then
  [[ $4 == --test-installer ]] || { echo "package.sh: unknown option $4" >&2; exit 2; }
  mkdir -p "$(dirname "$5")"
  test_installer=$(cd "$(dirname "$5")" && pwd)/$(basename "$5")
fi

cache_value() {  # cache_value BUILD NAME
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

version=$(cache_value "$x64_build" CMAKE_PROJECT_VERSION)
[[ -n "$version" ]] || { echo "package.sh: $x64_build is not a configured build" >&2; exit 1; }
if [[ $(cache_value "$x86_build" CMAKE_PROJECT_VERSION) != "$version" ]]; then
  echo "package.sh: the two builds have different versions" >&2
  exit 1
fi
for b in "$x64_build" "$x86_build"; do
  for f in Korvane.exe Update.dll; do
    [[ -f "$b/bin/$f" ]] || { echo "package.sh: $b/bin/$f is missing" >&2; exit 1; }
  done
done
publisher_url=$(cache_value "$x64_build" KORVANE_PUBLISHER_URL)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# readme_for ARCH: the zip's README.txt, with Windows line ends.
readme_for() {
  local note=
  [[ $1 == x86 ]] && note="On 64-bit Windows, register this 32-bit library with the 32-bit tool:
  %WINDIR%\\SysWOW64\\regsvr32.exe Update.dll

"
  python3 - "$here/README.txt.in" "$version" "$1" "$note" <<'PY'
import sys
template, version, arch, note = sys.argv[1:]
text = open(template, encoding="utf-8").read()
text = text.replace("@VERSION@", version).replace("@ARCH@", arch).replace("@ARCH_NOTE@", note)
sys.stdout.buffer.write(text.replace("\n", "\r\n").encode("utf-8"))
PY
}

# make_zip ARCH BUILD
make_zip() {
  local dir=$stage/$1
  mkdir -p "$dir"
  cp "$2/bin/Korvane.exe" "$2/bin/Update.dll" "$dir/"
  readme_for "$1" >"$dir/README.txt"
  python3 - "$out/Korvane-$version-$1.zip" "$dir" <<'PY'
import os, sys, zipfile
target, folder = sys.argv[1:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in ("Korvane.exe", "Update.dll", "README.txt"):
        z.write(os.path.join(folder, name), name)
PY
}

# make_installer OUTFILE [makensis options...]
make_installer() {
  local outfile=$1; shift
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DX64_DIR="$x64_build/bin" \
    -DX86_DIR="$x86_build/bin" -DICON="$root/app/startup/korvane.ico" \
    -DPUBLISHER_URL="$publisher_url" -DOUTFILE="$outfile" "$@" "$here/korvane.nsi" >/dev/null
}

setup=Korvane-$version-setup.exe
make_zip x64 "$x64_build"
make_zip x86 "$x86_build"
make_installer "$out/$setup"
(cd "$out" && sha256sum "$setup" "Korvane-$version-x64.zip" "Korvane-$version-x86.zip" >SHA256SUMS)
if [[ -n "$test_installer" ]]; then
  make_installer "$test_installer" -DKORVANE_INSTALLER_TARGET=amd64-unicode
fi
echo "package.sh: Korvane $version in $out"
(cd "$out" && ls -l "$setup" "Korvane-$version-x64.zip" "Korvane-$version-x86.zip" SHA256SUMS)
