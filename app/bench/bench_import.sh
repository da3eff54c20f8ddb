#!/usr/bin/env bash
# Usage: app/bench/bench_import.sh BUILD_DIR  (a win64 build folder)
# Import speed under Wine: milliseconds to read and decode text files of Chinese
# and ASCII lines (16 KiB to 1 MiB in UTF-8 with a byte-order mark, 1 MiB in
# GBK), and to show each in Text1 (a plain-text rich edit control) and in the
# plain edit control with the same styles. Target: a 1 MiB file in Text1 within
# 1.5 s of the open dialog closing.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  sed -n '2,7p' "$0" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Run inside the project's Wine environment.
if [[ -z "${KORVANE_BENCH_INNER:-}" ]]; then
  KORVANE_BENCH_INNER=1 KORVANE_BUILD_DIR=$build exec "$root/scripts/wine-env.sh" "$0" "$@"
fi

folder=$(mktemp -d /tmp/korvane-bench-XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$folder"' EXIT
python3 - "$folder" <<'PY'
import os, sys
line = "欢迎使用滚动字幕，今天的特价商品在一楼。Welcome, today's offers are on floor 1.\r\n"
files = [(f"utf8-{n}.txt", "utf-8", b"\xef\xbb\xbf", kib) for n, kib in
         (("16k", 16), ("64k", 64), ("128k", 128), ("256k", 256), ("1m", 1024))]
for name, encoding, mark, kib in files + [("gbk-1m.txt", "gbk", b"", 1024)]:
    text = line * (kib * 1024 // len(line.encode(encoding)) + 1)
    data = (mark + text.encode(encoding))[:kib * 1024]
    data = data[:data.rfind(b"\r\n") + 2]  # whole lines only
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(data)
PY
cd "$folder"
wine "$build/testbin/import_bench.exe" utf8-16k.txt utf8-64k.txt utf8-128k.txt utf8-256k.txt \
  utf8-1m.txt gbk-1m.txt 2>/dev/null | tr -d '\r'
