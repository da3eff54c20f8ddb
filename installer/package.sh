#!/usr/bin/env bash
# Makes the release files from a 64-bit and a 32-bit Windows build folder:
#   Korvane-<version>-setup.exe   one installer holding both architectures
#   Korvane-<version>-x64.zip     Korvane.exe, Update.dll, README.txt
#   Korvane-<version>-x86.zip     the same for 32-bit Windows
#   SHA256SUMS                    checksums of the three
# The version is the one the build folders were made with: the project
# version, or a test build's KORVANE_TEST_VERSION.
# Usage: package.sh X64_BUILD X86_BUILD OUT_DIR
#                   [--sign-pkcs12 FILE [--timestamp-url URL]]
#   --sign-pkcs12 signs Korvane.exe and Update.dll of both architectures
#   before they are packed, then the uninstaller and the installer, with
#   the certificate in FILE and the password in KORVANE_SIGN_PASSWORD
#   (see sign.sh); --timestamp-url adds an RFC 3161 time stamp.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
usage() { sed -n '2,14p' "$0" >&2; exit 2; }
(($# >= 3)) || usage
x64_build=$(cd "$1" && pwd)
x86_build=$(cd "$2" && pwd)
mkdir -p "$3"
out=$(cd "$3" && pwd)
shift 3
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
sign_pkcs12= timestamp_url=
while (($#)); do
  (($# >= 2)) || usage
  case $1 in
    --sign-pkcs12)    [[ -f $2 ]] || { echo "package.sh: no file $2" >&2; exit 2; }
                      sign_pkcs12=$(absolute "$2") ;;
    --timestamp-url)  timestamp_url=$2 ;;
    *) usage ;;
  esac
  shift 2
done
if [[ -n "$timestamp_url" && -z "$sign_pkcs12" ]]; then
  echo "package.sh: --timestamp-url needs --sign-pkcs12" >&2
  exit 2
fi
if [[ -n "$sign_pkcs12" ]]; then
  [[ -n "${KORVANE_SIGN_PASSWORD+set}" ]] || {
    echo "package.sh: set KORVANE_SIGN_PASSWORD to the certificate's password" >&2; exit 2; }
  export KORVANE_SIGN_PKCS12=$sign_pkcs12 KORVANE_SIGN_TIMESTAMP_URL=$timestamp_url
fi

cache_value() {  # cache_value BUILD NAME
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

build_version() {  # build_version BUILD
  local test_version
  test_version=$(cache_value "$1" KORVANE_TEST_VERSION)
  echo "${test_version:-$(cache_value "$1" CMAKE_PROJECT_VERSION)}"
}

version=$(build_version "$x64_build")
[[ -n "$version" ]] || { echo "package.sh: $x64_build is not a configured build" >&2; exit 1; }
if [[ $(build_version "$x86_build") != "$version" ]]; then
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

# stage_files ARCH BUILD: the two files of an architecture as they ship,
# signed when asked, in $stage/ARCH.
stage_files() {
  local dir=$stage/$1
  mkdir -p "$dir"
  cp "$2/bin/Korvane.exe" "$2/bin/Update.dll" "$dir/"
  if [[ -n "$sign_pkcs12" ]]; then
    "$here/sign.sh" "$dir/Korvane.exe"
    "$here/sign.sh" "$dir/Update.dll"
  fi
}

# make_zip ARCH
make_zip() {
  local dir=$stage/$1
  readme_for "$1" >"$dir/README.txt"
  python3 - "$out/Korvane-$version-$1.zip" "$dir" <<'PY'
import os, sys, zipfile
target, folder = sys.argv[1:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in ("Korvane.exe", "Update.dll", "README.txt"):
        z.write(os.path.join(folder, name), name)
PY
}

# make_installer OUTFILE
make_installer() {
  local sign=()
  [[ -n "$sign_pkcs12" ]] && sign=(-DSIGN_COMMAND="$here/sign.sh")
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DX64_DIR="$stage/x64" \
    -DX86_DIR="$stage/x86" -DICON="$root/app/startup/korvane.ico" \
    -DPUBLISHER_URL="$publisher_url" -DOUTFILE="$1" "${sign[@]}" "$here/korvane.nsi" >/dev/null
}

setup=Korvane-$version-setup.exe
stage_files x64 "$x64_build"
stage_files x86 "$x86_build"
make_zip x64
make_zip x86
make_installer "$out/$setup"
(cd "$out" && sha256sum "$setup" "Korvane-$version-x64.zip" "Korvane-$version-x86.zip" >SHA256SUMS)
echo "package.sh: Korvane $version in $out"
(cd "$out" && ls -l "$setup" "Korvane-$version-x64.zip" "Korvane-$version-x86.zip" SHA256SUMS)
