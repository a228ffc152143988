#!/usr/bin/env bash
# Builds the fuzz targets, the sanitizer build (customer edition) and the
# internal edition, then runs the fuzz targets beside the sanitizer suite and
# the internal edition's suite; each edition's CTest summary comes last.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
fuzz_seconds=${VEMU_FUZZ_SECONDS:-45}

cmake -S . -B build/fuzz -DVEMU_FUZZ=ON -DVEMU_BUILD_TESTS=OFF -DVEMU_BUILD_BENCH=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build/fuzz -j"$jobs" >/dev/null
cmake -S . -B build/asan -DVEMU_SANITIZE=ON -DVEMU_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/asan -j"$jobs" >/dev/null
cmake -S . -B build/internal -DVEMU_INTERNAL_EDITION=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/internal -j"$jobs" >/dev/null

# Each fuzz target runs for a bounded time on one core while the suites run;
# any finding fails the run.
fuzz_pids=()
for target in build/fuzz/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus-$name
  rm -rf "$corpus" && mkdir -p "$corpus"
  cp -r fuzz/corpus/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
  echo "fuzzing $name for ${fuzz_seconds}s"
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=0 "$corpus" >"build/fuzz/$name.log" 2>&1 &
  fuzz_pids+=("$!:$name")
done

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, leaks
# reported (Qt's platform plugin keeps a few objects until exit: suppressed).
suites_ok=0
echo "== sanitizer build (customer edition) =="
(cd build/asan && \
  ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS=suppressions="$PWD/../../tests/sanitizers/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs") || suites_ok=1
echo "== internal edition =="
(cd build/internal && ctest --output-on-failure -j"$jobs") || suites_ok=1

fuzz_ok=0
for entry in "${fuzz_pids[@]}"; do
  pid=${entry%%:*}
  name=${entry#*:}
  if ! wait "$pid"; then
    echo "== $name found a fault =="
    tail -n 60 "build/fuzz/$name.log"
    fuzz_ok=1
  fi
done
[ "$suites_ok" -eq 0 ] && [ "$fuzz_ok" -eq 0 ]
