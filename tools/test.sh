#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer trees and runs every test in both.
# Window tests get a display from Xvfb; everything else runs without one.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash tools/deps.sh || exit 1
bash tools/build.sh build || exit 1
bash tools/build.sh build-asan -DPW_SANITIZE=ON -DPW_BENCH=OFF || exit 1
# The texture loader thread's and the PNG writer's tests also run under ThreadSanitizer (only the
# test binary is built).
mkdir -p build-tsan
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_TSAN=ON -DPW_BENCH=OFF > build-tsan/configure.log 2>&1 \
  || { cat build-tsan/configure.log; exit 1; }
cmake --build build-tsan -j "$(nproc)" --target plumweave_tests || exit 1

export PLUMWEAVE_NONINTERACTIVE=1
# The leak checker's reading of dynamically loaded libraries' thread storage (the GL drivers') can
# take a stale entry for a block and crash at exit, depending on where the process's stack lies:
# it does not track that storage.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
jobs="$(nproc)"
status=0
echo "=== Texture loader and PNG writer tests (ThreadSanitizer build) ==="
env -u DISPLAY TSAN_OPTIONS="halt_on_error=1" build-tsan/bin/plumweave_tests --gtest_filter='TextureLoaderTest.*:PngWriteBanded.*' || status=1
# Every reader of outside bytes under libFuzzer (clang build in build-fuzz, about 10 s per target,
# all targets at once); any finding fails the run. Before the CTest runs, whose summary ends the output.
echo "=== Fuzzing the readers (libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) ==="
bash tools/fuzz.sh || status=1
echo "=== Tests (normal build) ==="
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build -j "$jobs" --output-on-failure || status=1
echo "=== Tests (AddressSanitizer + UndefinedBehaviorSanitizer build) ==="
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-asan -j "$jobs" --output-on-failure || status=1
# The output ends with CTest's summary of the last run.
exit $status
