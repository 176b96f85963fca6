#!/bin/sh
# Builds Tidevault and runs every test, renders the windows, then runs the
# engine tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/tools/install-deps.sh"
jobs="$(nproc)"

cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j "$jobs"
(cd "$here/build" && ctest --output-on-failure -j "$jobs")
# Every window rendered offscreen, English and German, to build/screenshots/.
QT_QPA_PLATFORM=offscreen cmake --build "$here/build" --target screenshots

cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTIDEVAULT_SANITIZE=ON >/dev/null
cmake --build "$here/build-asan" -j "$jobs" --target engine_tests
echo "Engine tests under AddressSanitizer and UndefinedBehaviorSanitizer:"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LC_ALL=C TZ=UTC "$here/build-asan/engine_tests" --gtest_brief=1
