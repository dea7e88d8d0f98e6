#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it for a short, bounded time.
# Exit 77 (skipped) when clang or libFuzzer is not installed.
set -euo pipefail
src="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$src/../../../build/fuzz}"
target="${2:-fuzz_cutter}"   # fuzz_cutter or fuzz_gvcp
corpus="corpus"
[ "$target" = fuzz_gvcp ] && corpus="corpus_gvcp"
runs="${FUZZ_RUNS:-300000}"
secs="${FUZZ_SECONDS:-60}"
if ! command -v clang++ >/dev/null; then
  echo "clang++ is not installed: skipped"; exit 77
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long){return 0;}' \
     | clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "libFuzzer is not installed: skipped"; exit 77
fi
cmake -S "$src" -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$out" -j3 --target "$target" >/dev/null
mkdir -p "$out/$corpus"
cp "$src/$corpus"/* "$out/$corpus/"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
# libFuzzer reports a crash with 77 by default, the skip code of CTest.
"$out/$target" -error_exitcode=1 -timeout_exitcode=1 -runs="$runs" -max_total_time="$secs" -rss_limit_mb=2048 -max_len=65536 "$out/$corpus"
