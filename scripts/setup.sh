#!/usr/bin/env bash
# Installs every package the build, the tests and the run script need.
# Does nothing when they are all present already.
#
# Wine's 32-bit half (wine32, for the 32-bit Wine tests) is installed only
# where the kernel runs i386 code: elsewhere it would break every wine call,
# 64-bit programs included.
# Usage: setup.sh               install what is missing
#        setup.sh --wine32      exit 0 when the 32-bit Wine tests can run here;
#                               otherwise print why not and exit 1
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libwine-dev
  wine wine64 xvfb xdotool imagemagick fonts-wqy-zenhei fonts-dejavu-core
  fonts-dejavu-extra python3
  procps nsis osslsigncode openssl locales x11-utils python3-gunicorn wrk
  python3-waitress nginx-light iproute2 util-linux
)

installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == "install ok installed" ]]
}

# i386_probe: runs a minimal static i386 ELF that exits with status 7 and
# prints nothing when the kernel runs it, else what running it said.
i386_probe() {
  local elf= probe rc=0 said
  elf+='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  # ELF32, little-endian
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'          # executable, i386, entry
  elf+='\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'          # program headers at 52
  elf+='\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'          # one of 32 bytes
  elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'  # load all 96
  elf+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'  # bytes, r-x
  elf+='\xbb\x07\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'          # exit(7)
  probe=$(mktemp)
  printf "$elf" >"$probe"
  chmod +x "$probe"
  said=$("$probe" 2>&1) || rc=$?
  rm -f "$probe"
  if ((rc != 7)); then
    said=${said##*: }
    echo "${said:-exit status $rc}"
  fi
}

if [[ ${1:-} == --wine32 ]]; then
  why=$(i386_probe)
  if [[ -n "$why" ]]; then
    echo "this machine cannot execute i386 code ($why)"
    exit 1
  fi
  if ! installed wine32:i386; then
    echo "wine32 is not installed (run scripts/setup.sh as root)"
    exit 1
  fi
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
add_i386=
if [[ -z "$(i386_probe)" ]] && ! installed wine32:i386; then
  missing+=(wine32:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
fi

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  SUDO=sudo
else
  SUDO=
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
[[ -n "$add_i386" ]] && $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
