#!/usr/bin/env bash
# Runs a command in the project's Wine environment:
#   - a Wine prefix of its own: WINEPREFIX when set, else
#     build/<folder>/wineprefix; made when missing as a copy of the build
#     folder's template prefix (scripts/wine-prefix.sh; KORVANE_WINE_TEMPLATE
#     names another template folder),
#   - LC_ALL=zh_CN.UTF-8, so that the ANSI code page is 936,
#   - "宋体" and "SimSun" mapped to the installed CJK font,
#   - an X display (a private Xvfb is started when none is set),
#   - testing/ on the Python path, for the tests' shared helpers.
# Usage: wine-env.sh command [args...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
KORVANE_BUILD_DIR=${KORVANE_BUILD_DIR:-$root/build/win64}
mkdir -p "$KORVANE_BUILD_DIR"
export KORVANE_BUILD_DIR=$(cd "$KORVANE_BUILD_DIR" && pwd)
own_prefix=0
if [[ -z "${WINEPREFIX:-}" ]]; then
  export WINEPREFIX=$KORVANE_BUILD_DIR/wineprefix
  own_prefix=1
fi
export WINEARCH=${WINEARCH:-win64}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine's own tools named without a path (reg, regedit, regsvr32, cmd,
# cscript, rundll32) start as the 32-bit builds wherever Wine's 32-bit half
# is installed, even in a 64-bit prefix, and see the 32-bit registry view.
# KORVANE_WINE starts them in the prefix's architecture: in a 64-bit prefix
# the 64-bit loader, which plain wine is where there is no 32-bit half.
if [[ $WINEARCH == win64 && -x /usr/lib/wine/wine64 ]]; then
  export KORVANE_WINE=/usr/lib/wine/wine64
elif [[ $WINEARCH == win64 ]] && command -v wine64 >/dev/null; then
  export KORVANE_WINE=wine64
else
  export KORVANE_WINE=wine
fi
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# (bash warns that the glibc locale is missing; Wine does not need it)
export LC_ALL=zh_CN.UTF-8 2>/dev/null
export KORVANE_ROOT=$root
export PYTHONPATH=$root/testing${PYTHONPATH:+:$PYTHONPATH}

source "$root/scripts/xvfb.sh"
source "$root/scripts/wine-prefix.sh"

cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    # The programs drew on this display: end them with it.
    wineserver -k 2>/dev/null || true
    stop_xvfb
  fi
}
trap cleanup EXIT

start_xvfb

# A missing prefix is copied from the build folder's template, and so is the
# build folder's own prefix when it was made by an older Wine or before
# wine32 was installed. Another prefix given in WINEPREFIX is only given the
# font mapping. Several commands may start at once: one prepares the prefix.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [[ ! -e $WINEPREFIX || -z $(ls -A "$WINEPREFIX") ]] || { ((own_prefix)) &&
     ! prefix_stamp | cmp -s - "$WINEPREFIX/korvane-prefix.stamp" 2>/dev/null; }; then
  copy_prefix "$KORVANE_BUILD_DIR" "$WINEPREFIX"
elif [[ ! -e $WINEPREFIX/system.reg ]]; then
  echo "wine-env: $WINEPREFIX is neither empty nor a Wine prefix" >&2
  exit 1
elif ! font_mapping | cmp -s - "$WINEPREFIX/korvane-fonts.reg"; then
  font_mapping >"$WINEPREFIX/korvane-fonts.reg"
  "$KORVANE_WINE" regedit /S "$WINEPREFIX/korvane-fonts.reg" >/dev/null 2>&1
fi
flock -u 9
exec 9>&-

"$@"
