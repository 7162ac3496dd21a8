#!/usr/bin/env bash
# The checks beyond ./test.sh that CI runs: the suite under AddressSanitizer+UBSan, the engine,
# transport and worker-thread suites under ThreadSanitizer, and each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
fuzz_seconds=${VELMOR_FUZZ_SECONDS:-60}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
# intercept_tls_get_addr=0: GCC 12's LeakSanitizer, tracking the dynamic TLS blocks of libraries
# loaded with dlopen (Qt's image plugins), reads glibc 2.36's thread vector wrongly now and then and
# its tracer crashes at exit after a passing test (which one depends on the binary's layout).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan

echo "== ThreadSanitizer (engine, transport and worker threads)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan

echo "== Fuzzing, ${fuzz_seconds} s per target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target velmor_fuzzers
for f in build-fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f" _fuzz)
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  echo "-- $name"
  "$f" -max_total_time="$fuzz_seconds" -max_len=65536 -print_final_stats=0 "$work" 2>&1 | tail -n 3
  rm -rf "$work"
done
echo "full check: ok"
