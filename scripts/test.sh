#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (with sanitizers),
# bounded fuzz runs, the integration tests under Wine, side by side (each in
# its own network namespace, prefix and display: scripts/wine-test.sh), and
# scripts/run.sh once from a clean start. Where the machine runs i386 code,
# also the 32-bit Wine tests (start-up, strip, library, HTTP and the shipped
# installer); elsewhere they are reported and counted as skipped, while the
# win32 build and its import check still run.
#
# A failed Wine integration test (label wine) runs once more; one that passes
# then is listed as flaky, with where its first run was kept, and counts as
# passed, or as failed with KORVANE_TEST_STRICT=1. No other test runs twice.
#
# It ends with the skipped and flaky tests and why, the ten slowest tests,
# each build folder's "Total Test time" and their sum, and the line
# "N passed, N failed, N skipped".
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh" || exit 1
"$root/scripts/build.sh" native fuzz win64 win32 || exit 1
# The installer tests upgrade to the next version: its two files are built
# here with the rest (only what changed), so the tests time only the packing.
PYTHONPATH=$root/testing python3 "$root/installer/release_files_test.py" --build-only \
  --x64-build "$root/build/win64" --x86-build "$root/build/win32" --source "$root" \
  --work "$root/build/win64/installer/release-test" || exit 1

# Tests run side by side, one more than the machine has cores: a Wine test
# spends much of its time waiting for the program's ticks (KORVANE_TEST_JOBS
# to choose another number).
jobs=${KORVANE_TEST_JOBS:-$(($(nproc) + 1))}
results=$(mktemp -d)
run_pid= templates_pid=
cleanup() {
  [[ -n $run_pid ]] && kill "$run_pid" 2>/dev/null
  [[ -n $templates_pid ]] && kill "$templates_pid" 2>/dev/null
  rm -rf "$results"
}
trap cleanup EXIT

# in_own_network COMMAND...: runs the command in a network namespace of its
# own, where the port the build reaches is free, when one can be made.
in_own_network() {
  if unshare -n true 2>/dev/null; then
    unshare -n bash -c 'ip link set lo up && exec "$@"' in-own-network "$@"
  else
    "$@"
  fi
}

# The run command as a newcomer first uses it: a Wine prefix made on the
# spot, never one made earlier. It runs beside the native tests and fuzzers.
run_started=$SECONDS
shot=$root/build/korvane-screenshot.png
rm -f "$shot"
(
  unset DISPLAY
  export KORVANE_WINE_TEMPLATE=$results/run/template WINEPREFIX=$results/run/prefix
  in_own_network "$root/scripts/run.sh" "$shot" >"$results/run.out" 2>&1
) &
run_pid=$!

# Meanwhile the template prefixes that the Wine tests copy are made (once per
# build folder; wineboot takes a while).
(
  unset DISPLAY
  KORVANE_BUILD_DIR=$root/build/win64 WINEARCH=win64 "$root/scripts/wine-env.sh" true
  if "$root/scripts/setup.sh" --wine32 >/dev/null; then
    KORVANE_BUILD_DIR=$root/build/win32 WINEARCH=win32 "$root/scripts/wine-env.sh" true
  fi
) >"$results/templates.out" 2>&1 &
templates_pid=$!

# run_pool POOL FOLDER FOLDER [ctest options...]: the tests of two build
# folders in one ctest run, build/POOL, so that they share the cores.
run_pool() {
  local pool=$root/build/$1
  mkdir -p "$pool"
  printf 'subdirs("%s")\n' "$root/build/$2" "$root/build/$3" >"$pool/CTestTestfile.cmake"
  echo "== tests in build/$1"
  rm -f "$pool/Testing/Temporary/LastTestsFailed.log"
  ctest --test-dir "$pool" --output-on-failure --output-junit "$results/$1.xml" "${@:4}" 2>&1 |
    tee "$results/$1.log"
}

# The native tests beside the fuzzers, which run for a fixed time each.
run_pool portable native fuzz -j"$(($(ctest --test-dir "$root/build/fuzz" -N |
                                     sed -n 's/^Total Tests: //p') + jobs))"

# The run command's outcome: its own verdict, and the saved screenshot must
# show the strip with part of its caption: the strip's rectangle, trimmed of
# its background, at least 48 px (three ideographs) wide.
echo "== scripts/run.sh from a clean start"
wait "$run_pid"
run_rc=$?
run_pid=
run_seconds=$((SECONDS - run_started))
cat "$results/run.out"
run_status=failed
if ((run_rc == 0)); then
  strip=$(sed -n 's/^The strip is at \([0-9x+-]*\);.*/\1/p' "$results/run.out")
  ink=$(convert "$shot" -crop "${strip:-0x0}" +repage -trim -format %w \
        info: 2>/dev/null || echo 0)
  if [[ -n $strip ]] && ((ink >= 48)); then
    run_status=passed
  else
    echo "FAIL: the screenshot shows no caption on the strip at ${strip:-(no place reported)}"
  fi
fi
echo "run.sh: $run_status in $run_seconds s"
WINEPREFIX=$results/run/template wineserver -k 2>/dev/null

wait "$templates_pid" || cat "$results/templates.out"
templates_pid=

# The tests of both Windows builds (the 32-bit build's names end in _x86);
# of the 32-bit build's only those that can tell something the 64-bit ones
# cannot: the import check, start-up, the strip, the library and HTTP.
not_x86='^(text_box_wine_test|update_ui_wine_test|update_flow_wine_test_[0-9]+|safe_folder_wine_test|update_wait_wine_test|panel_wine_test_[0-9]+|update_service_wine)_x86$'
rm -rf "$root"/build/win{64,32}/wine-tests/*.first-run
run_pool windows win64 win32 -j"$jobs" -E "$not_x86"
windows=$root/build/windows

# Then once more each failed test labelled wine: Wine now and then fails
# with several prefixes busy. A test that passes only then is reported as
# flaky (test_summary.py); its first run's work folder and output
# (wine-test.sh keeps both when a test fails) are moved aside to
# build/<folder>/wine-tests/NAME.first-run, for a look afterwards.
failed=()
if [[ -f $windows/Testing/Temporary/LastTestsFailed.log ]]; then
  mapfile -t wine_tests < <(ctest --test-dir "$windows" -N -L '^wine$' |
                            sed -n 's/^ *Test *#[0-9]*: //p')
  while IFS=: read -r _ name; do
    [[ " ${wine_tests[*]} " == *" $name "* ]] || continue
    failed+=("$name")
    for work in "$root"/build/win{64,32}/wine-tests/"$name"; do
      [[ -d $work ]] || continue
      mv "$work" "$work.first-run"
      echo "$name $work.first-run" >>"$results/windows.rerun"
    done
  done <"$windows/Testing/Temporary/LastTestsFailed.log"
fi
if ((${#failed[@]})); then
  echo "== once more, the Wine tests that failed: ${failed[*]}"
  # The release files the installer tests need are already made.
  ctest --test-dir "$windows" --output-on-failure -j"$jobs" \
    -R "^($(IFS='|'; echo "${failed[*]}"))\$" -FS korvane_release_files \
    --output-junit "$results/windows.rerun.xml" 2>&1 | tee "$results/windows.rerun.log"
fi
if ! why=$("$root/scripts/setup.sh" --wine32); then
  echo "32-bit Wine tests skipped: $why"
fi

python3 "$root/testing/test_summary.py" "$results" "scripts/run.sh:$run_status:$run_seconds"
