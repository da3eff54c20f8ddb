#!/usr/bin/env bash
# Builds the benchmarks and prints their figures:
#   - every native benchmark in build/bench/bench (core speed),
#   - every bench_*.sh script in app/ (those that span layers in app/bench/)
#     and update/, given the win64 build (CPU use and times under Wine),
#   - the update service's load benchmark on loopback
#     (tools/update_service/bench_service.sh: embedded server and gunicorn).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" bench win64

for b in "$root"/build/bench/bench/*; do
  [[ -x "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b"
done

while IFS= read -r script; do
  echo "== ${script#"$root"/}"
  bash "$script" "$root/build/win64"
done < <(find "$root/app" "$root/update" -name 'bench_*.sh' | sort)

echo "== tools/update_service/bench_service.sh"
bash "$root/tools/update_service/bench_service.sh"
