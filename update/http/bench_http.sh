#!/usr/bin/env bash
# Runs the HTTP decoding benchmark of an existing bench build; builds nothing.
# Usage: bench_http.sh <bench build folder>
#   e.g. update/http/bench_http.sh build/bench
# Prints BytesToText's and iconv's CP936 throughput on the same 8 MiB of
# mixed ASCII/GBK text, and their ratio.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  sed -n '2,6p' "$0" >&2
  exit 2
fi
bench=$1/bench/bytes_to_text_bench
if [[ ! -x "$bench" ]]; then
  echo "bench_http.sh: $bench not found; build the bench folder first" >&2
  exit 1
fi
echo "== bytes_to_text_bench"
"$bench"
