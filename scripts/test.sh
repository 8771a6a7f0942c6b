#!/usr/bin/env bash
# Installs what is missing, builds Kestrine and runs every test suite:
#   1. the release build: the bundle, the tools, the benchmark (built, not run) and all tests;
#      then the built bundle through pluginval at strictness 10 and the VST3 SDK's validator
#      (../shared/tools/, beside the repository);
#   2. a ThreadSanitizer build running the concurrency tests;
#   3. a clang AddressSanitizer/UndefinedBehaviorSanitizer build running the tests that open
#      and close editors, restore hostile state blocks and cancel network requests, plus a
#      bounded run of the state-block fuzzer.
# Usage: scripts/test.sh            (from anywhere; run as root on a fresh Debian machine)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

jobs=$(nproc)
# Every editor a test opens asks for the published version: keep that traffic on this machine
# (a refused connection on the loopback address). The test builds have folders of their own,
# so the bundle that scripts/demo.sh builds in build/ keeps the real address.
loopback_url=http://127.0.0.1:9/kestrine/version.txt
fuzz_seconds=${KESTRINE_FUZZ_SECONDS:-60}

# The LV2 checks use lv2-dev's lv2_validate (which runs sordi's sord_validate) and lilv-utils'
# lv2ls and lv2info; the standalone application's test runs it in Xvfb and drives and
# photographs its window with xdotool and ImageMagick.
bash scripts/install-deps.sh googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev \
    lv2-dev sordi lilv-utils xvfb xauth xdotool imagemagick

step() { printf '\n==== %s\n' "$*"; }

step "release build"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRINE_BENCH=ON -DKESTRINE_VERSION_URL=$loopback_url
cmake --build build-test -j"$jobs"

step "release tests"
ctest --test-dir build-test --output-on-failure -j1

bundle=build-test/Kestrine_artefacts/Release/VST3/Kestrine.vst3
validators=../shared/tools

step "pluginval, strictness 10"
# Its editor tests need a display.
xvfb-run -a "$validators/pluginval" --strictness-level 10 --validate "$bundle"

step "VST3 validator, extended suite"
"$validators/validator" -e "$bundle"

step "ThreadSanitizer build"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRINE_TSAN=ON -DKESTRINE_TOOLS=OFF -DKESTRINE_VERSION_URL=$loopback_url
cmake --build build-tsan -j"$jobs" --target kestrine-tests

step "ThreadSanitizer tests"
# setarch -R: ThreadSanitizer needs the address-space layout it knows, without randomisation.
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
    setarch "$(uname -m)" -R build-tsan/tests/kestrine-tests --gtest_filter='Concurrency*:Processor.*:UpdateNotice.*'

step "AddressSanitizer and fuzzer build"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRINE_FUZZ=ON -DKESTRINE_TOOLS=OFF -DKESTRINE_VERSION_URL=$loopback_url
cmake --build build-fuzz -j"$jobs"

step "AddressSanitizer tests"
# tests/lsan.supp: two leaks of the framework's LV2 hosting library, which the tests use to load the LV2.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" \
    build-fuzz/tests/kestrine-tests --gtest_filter="${KESTRINE_ASAN_FILTER:-*}"

step "state-block fuzzer, ${fuzz_seconds} s"
bash tests/fuzz/run.sh build-fuzz "$fuzz_seconds"

echo
echo "All Kestrine test suites passed."
