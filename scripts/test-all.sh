#!/usr/bin/env bash
# Builds both editions and runs every test, each edition's CTest summary last.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Fuzz targets, each for a short bounded time; any finding fails the run.
if ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  cmake -S . -B build/fuzz -DVEMU_FUZZ=ON -DVEMU_BUILD_TESTS=OFF -DVEMU_BUILD_BENCH=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
  cmake --build build/fuzz -j"$jobs" >/dev/null
  for target in build/fuzz/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    cp -r fuzz/corpus/"${name#fuzz_}"/. "$corpus"/ 2>/dev/null || true
    echo "fuzzing $name for ${VEMU_FUZZ_SECONDS:-45}s"
    "$target" -max_total_time="${VEMU_FUZZ_SECONDS:-45}" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=0 "$corpus" 2>"build/fuzz/$name.log" \
      || { tail -n 60 "build/fuzz/$name.log"; exit 1; }
    rm -rf "$corpus"
  done
fi

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, leaks
# reported (Qt's platform plugin keeps a few objects until exit: suppressed).
cmake -S . -B build/asan -DVEMU_SANITIZE=ON -DVEMU_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/asan -j"$jobs"
echo "== sanitizer build =="
(cd build/asan && \
  ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS=suppressions="$PWD/../../tests/sanitizers/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")

for edition in customer internal; do
  internal=OFF
  [ "$edition" = internal ] && internal=ON
  cmake -S . -B "build/$edition" -DVEMU_INTERNAL_EDITION=$internal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "build/$edition" -j"$jobs"
  echo "== $edition edition =="
  (cd "build/$edition" && ctest --output-on-failure -j"$jobs")
done
