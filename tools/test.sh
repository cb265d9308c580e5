#!/usr/bin/env bash
# Installs what is missing, builds the normal, the sanitizer and the thread-checking trees, fuzzes the
# readers and runs every test in the normal and the sanitizer tree; run by root, the normal tree's
# tests run once more as the user nobody. Window tests get a display from Xvfb; everything else runs
# without one. The output ends with the skipped tests and their reasons, then one line: the result.
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
# Quoted inside the option: the clone's path may hold blanks or colons.
export LSAN_OPTIONS="suppressions='$root/tests/lsan.supp':print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
jobs="$(nproc)"
failed=()
skipped=()
display=(xvfb-run -a -s "-screen 0 1280x1024x24")

# The skipped tests of a CTest run and the reasons their tests gave, from its log.
note_skips() { # title, CTest folder
  local line
  while IFS= read -r line; do
    skipped+=("$1: $line")
  done < <(awk '
    /^\[ RUN      \] /  { name = $4; reason = ""; inskip = 0; next }
    /: Skipped$/         { inskip = 1; next }
    /^\[  SKIPPED \] /   { if (name != "") print name ": " (reason == "" ? "(no reason given)" : reason); name = ""; inskip = 0; next }
    inskip && NF         { reason = (reason == "" ? $0 : reason " " $0) }' "$2/Testing/Temporary/LastTest.log" 2>/dev/null)
}

stage="Texture loader and PNG writer tests (ThreadSanitizer build)"
echo "=== $stage ==="
env -u DISPLAY TSAN_OPTIONS="halt_on_error=1" build-tsan/bin/plumweave_tests --gtest_filter='TextureLoaderTest.*:PngWriteBanded.*' \
  || failed+=("$stage")
# Every reader of outside bytes under libFuzzer (clang build in build-fuzz, about 10 s per target,
# all targets at once); any finding fails the run.
stage="Fuzzing the readers (libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)"
echo "=== $stage ==="
bash tools/fuzz.sh || failed+=("$stage")
stage="Tests (normal build)"
echo "=== $stage ==="
"${display[@]}" ctest --test-dir build -j "$jobs" --output-on-failure || failed+=("$stage")
note_skips "normal build" build
stage="Tests (AddressSanitizer + UndefinedBehaviorSanitizer build)"
echo "=== $stage ==="
"${display[@]}" ctest --test-dir build-asan -j "$jobs" --output-on-failure || failed+=("$stage")
note_skips "sanitizer build" build-asan

# What a user without root meets: the normal build's tests as nobody, from a CTest folder of its own
# (CTest writes its logs there; the tests find the build through absolute paths).
stage="Tests (normal build) as the user nobody"
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if [ "$(id -u)" -ne 0 ]; then
  echo "=== $stage: not run (only root can run them as another user) ==="
# Absolute paths: a relative one starts from this folder and skips the folders above it.
elif ! "${as_nobody[@]}" test -x "$root/build/bin/plumweave_tests" -a -r "$root/build/CTestTestfile.cmake" \
  -a -r "$root/tests/data" 2> /dev/null; then
  echo "=== $stage: not run (nobody cannot reach $root) ==="
else
  echo "=== $stage ==="
  nobody_dir="$(mktemp -d /tmp/pwnobody.XXXXXX)"
  cp build/CTestTestfile.cmake "$nobody_dir/"
  chown -R nobody:nogroup "$nobody_dir"
  (cd "$nobody_dir" && "${as_nobody[@]}" env HOME="$nobody_dir" "${display[@]}" ctest --test-dir "$nobody_dir" -j "$jobs" \
    --output-on-failure) || failed+=("$stage")
  note_skips "as nobody" "$nobody_dir"
  rm -rf "$nobody_dir"
fi

echo "=== Skipped tests ==="
if [ ${#skipped[@]} -eq 0 ]; then
  echo "none"
else
  printf '%s\n' "${skipped[@]}"
fi
if [ ${#failed[@]} -eq 0 ]; then
  echo "test.sh: every stage passed"
  exit 0
fi
printf 'test.sh: FAILED:'; printf ' [%s]' "${failed[@]}"; echo
exit 1
