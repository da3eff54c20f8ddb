#!/usr/bin/env bash
# Runs a command in the project's Wine environment:
#   - a Wine prefix of its own inside the build folder (made on first use),
#   - LC_ALL=zh_CN.UTF-8, so that the ANSI code page is 936,
#   - "宋体" and "SimSun" mapped to the installed CJK font (its Mono face, whose
#     half-width ASCII matches SimSun's metrics),
#   - an X display (a private Xvfb is started when none is set),
#   - testing/ on the Python path, for the tests' shared helpers.
# Usage: wine-env.sh command [args...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
KORVANE_BUILD_DIR=${KORVANE_BUILD_DIR:-$root/build/win64}
mkdir -p "$KORVANE_BUILD_DIR"
export KORVANE_BUILD_DIR=$(cd "$KORVANE_BUILD_DIR" && pwd)
export WINEPREFIX=${WINEPREFIX:-$KORVANE_BUILD_DIR/wineprefix}
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

cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

source "$root/scripts/xvfb.sh"
start_xvfb 90 120

font_mapping() {
  # UTF-16, so that the Chinese font names survive any command-line code page.
  printf '%s\r\n' \
    'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"宋体"="WenQuanYi Zen Hei Mono"' \
    '"SimSun"="WenQuanYi Zen Hei Mono"' \
    '"新宋体"="WenQuanYi Zen Hei Mono"' \
    '"NSimSun"="WenQuanYi Zen Hei Mono"' \
    '"微软雅黑"="WenQuanYi Zen Hei"' \
    '"Microsoft YaHei"="WenQuanYi Zen Hei"' \
    | iconv -f UTF-8 -t UTF-16
}

prepare_prefix() {
  local reg="$WINEPREFIX/korvane-fonts.reg"
  if [[ ! -e "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  if ! font_mapping | cmp -s - "$reg"; then
    font_mapping > "$reg.new"
    "$KORVANE_WINE" regedit /S "$reg.new" >/dev/null 2>&1
    wineserver -w
    mv "$reg.new" "$reg"
  fi
}

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
prepare_prefix
flock -u 9
exec 9>&-

"$@"
