#!/usr/bin/env bash
# Usage: wine-prefix.sh copy BUILD_FOLDER WINEARCH DEST (or sourced, for its
# functions), inside the Wine environment of wine-env.sh.
# Each build folder keeps one template prefix, wine-template, made once with
# wineboot (about 10 s) and the font mapping; programs run only in copies of it,
# made in a fraction of a second: hard links to the binaries wineboot installed
# (no program writes them), a copy of every other file (registry, ini files). The
# template is made again when what it was made with changes (Wine version,
# wine32: a prefix made before wine32 was installed cannot start any program once
# it is, font mapping).

# font_mapping: "宋体" and "SimSun" mapped to the installed CJK font (its Mono
# face, whose half-width ASCII matches SimSun's metrics), in UTF-16, so that
# the Chinese font names survive any command-line code page.
font_mapping() {
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

# prefix_stamp: what a prefix made now is made with.
prefix_stamp() {
  local wine32=no
  [[ $(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null) == "install ok installed" ]] &&
    wine32=yes
  printf '%s\n' "$(wine --version 2>/dev/null)" "arch $WINEARCH" "wine32 $wine32" \
    "fonts $(font_mapping | md5sum | cut -d' ' -f1)"
}

# make_prefix PREFIX: a prefix made with wineboot and the font mapping.
make_prefix() {
  local prefix=$1
  mkdir -p "$prefix"
  (
    export WINEPREFIX=$prefix
    wineboot -i >/dev/null 2>&1
    font_mapping >"$prefix/korvane-fonts.reg"
    "$KORVANE_WINE" regedit /S "$prefix/korvane-fonts.reg" >/dev/null 2>&1
    # Until every program of the prefix has ended and the registry is saved.
    wineserver -w
  ) || return 1
  prefix_stamp >"$prefix/korvane-prefix.stamp"
}

# template_of BUILD_FOLDER: the build folder's template, or KORVANE_WINE_TEMPLATE.
template_of() { printf '%s\n' "${KORVANE_WINE_TEMPLATE:-$1/wine-template}"; }

template_current() {  # template_current TEMPLATE
  [[ -e $1/korvane-prefix.stamp ]] && prefix_stamp | cmp -s - "$1/korvane-prefix.stamp"
}

# ensure_template BUILD_FOLDER: makes the template unless a current one is
# there. Of several tests asking at once, one makes it, the others wait.
ensure_template() {
  local template
  template=$(template_of "$1")
  mkdir -p "$(dirname "$template")"
  template_current "$template" && return 0
  (
    flock 8
    template_current "$template" && exit 0
    echo "wine-prefix: making the template prefix $template" >&2
    WINEPREFIX=$template.part wineserver -k 2>/dev/null || true
    rm -rf "$template.part"
    make_prefix "$template.part" || exit 1
    rm -rf "$template"
    mv "$template.part" "$template"
  ) 8>"$template.lock"
}

# copy_prefix BUILD_FOLDER DEST: DEST becomes a fresh copy of the template.
copy_prefix() {
  local template dest=${2:-}
  if [[ -z ${1:-} || -z $dest ]]; then
    echo "copy_prefix BUILD_FOLDER DEST" >&2
    return 2
  fi
  ensure_template "$1" || return 1
  template=$(template_of "$1")
  WINEPREFIX=$dest wineserver -k 2>/dev/null || true
  rm -rf "$dest" "$dest.part"
  mkdir -p "$(dirname "$dest")"
  cp -al "$template" "$dest.part" || return 1
  # Every file but the installed binaries gets a copy of its own.
  find "$dest.part" -type f ! \( -path "$dest.part/drive_c/*" \( -iname '*.dll' \
    -o -iname '*.exe' -o -iname '*.nls' -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.ocx' \
    -o -iname '*.cpl' -o -iname '*.acm' -o -iname '*.vxd' -o -iname '*.tlb' -o -iname '*.ax' \
    -o -iname '*.ds' -o -iname '*.com' -o -iname '*.ttf' -o -iname '*.ttc' -o -iname '*.fon' \) \) \
    -print0 | while IFS= read -r -d '' f; do
      cp -p "$f" "$f.korvane-copy" && mv -f "$f.korvane-copy" "$f" || exit 1
    done || return 1
  mv "$dest.part" "$dest"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -uo pipefail
  if [[ ${1:-} != copy || $# -ne 4 ]]; then
    sed -n '2,3p' "$0" >&2
    exit 2
  fi
  export WINEARCH=$3
  copy_prefix "$2" "$4"
fi
