#!/usr/bin/env bash
# Builds the sanitizer tree (customer edition, clang, with the fuzz targets)
# and the internal edition, then runs the fuzz targets, the sanitizer suite and
# the internal edition's suite side by side; each suite's CTest output follows.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
fuzz_seconds=${VEMU_FUZZ_SECONDS:-45}

# A tree configured before with other options or another compiler starts anew.
rm -f build/asan/CMakeCache.txt build/internal/CMakeCache.txt
cmake -S . -B build/asan -DVEMU_FUZZ=ON -DVEMU_SANITIZE=ON -DVEMU_BUILD_BENCH=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build/asan -j"$jobs" >/dev/null
cmake -S . -B build/internal -DVEMU_INTERNAL_EDITION=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/internal -j"$jobs" >/dev/null

# Each fuzz target runs for a bounded time on one core; any finding fails the run.
pids=()
for target in build/asan/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/asan/corpus-$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  cp -r fuzz/corpus/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=0 "$corpus" >"build/asan/$name.log" 2>&1 &
  pids+=("$!:$name:build/asan/$name.log")
done

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, leaks
# reported (Qt's platform plugin keeps a few objects until exit: suppressed).
# Allocations keep the fast frame-pointer unwinding: the suppressions match
# with it, and a full unwind at every allocation costs the rows that build
# large request lists tens of seconds of CPU.
# The suites mostly wait on the CPE and on timers, so they share the cores well.
(cd build/asan && \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS=suppressions="$PWD/../../tests/sanitizers/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs") >build/asan/ctest.log 2>&1 &
pids+=("$!:sanitizer suite (customer edition):build/asan/ctest.log")
(cd build/internal && ctest --output-on-failure -j"$jobs") >build/internal/ctest.log 2>&1 &
pids+=("$!:internal edition suite:build/internal/ctest.log")

failed=0
for entry in "${pids[@]}"; do
  IFS=: read -r pid name log <<<"$entry"
  if wait "$pid"; then
    case "$name" in fuzz_*) echo "== $name: $fuzz_seconds s, nothing found ==" ;; *) echo "== $name =="; cat "$log" ;; esac
  else
    echo "== $name FAILED =="
    case "$name" in fuzz_*) tail -n 60 "$log" ;; *) cat "$log" ;; esac
    failed=1
  fi
done
exit "$failed"
