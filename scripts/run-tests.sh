#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs the tests three times —
# under ThreadSanitizer (the threaded tests), under AddressSanitizer with UndefinedBehaviorSanitizer
# (everything, plus bounded fuzzing runs), and in the normal build (everything). The normal run
# comes last, so the output ends with its CTest summary. Set ORV_SANITIZERS=0 to skip the two
# sanitizer runs while iterating.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" || exit 1

jobs=$(nproc)
status=0

run_suite() {  # run_suite DIR [ctest options...]
    local dir=$1
    shift
    (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") || status=1
}

if [ "${ORV_SANITIZERS:-1}" != "0" ]; then
    echo "== ThreadSanitizer build =="
    "$root/scripts/build.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORV_SANITIZE=thread \
        -DORV_BUILD_BENCH=OFF || exit 1
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_suite "$root/build-tsan" -L threads -LE broadcast

    echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
    "$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORV_SANITIZE=address \
        -DORV_BUILD_BENCH=OFF -DORV_BUILD_FUZZ=ON || exit 1
    # The windows' tests (label "display") run in the normal build only: they draw through Qt
    # and the system's GL and font libraries, whose own allocations the leak checker reports.
    # The tests that follow a simulated broadcast in real time (label "broadcast": channel scans
    # and the end-to-end reservation) run in the normal build only too: a sanitized build
    # cannot analyse the stream at the pace it is sent.
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
        LSAN_OPTIONS="suppressions=$root/cmake/lsan.supp" run_suite "$root/build-asan" -LE "display|broadcast"
fi

echo "== Normal build =="
"$root/scripts/build.sh" "$root/build" || exit 1
# The windows' tests (label "display") draw on an X server: a virtual one when none is there.
display=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    display=(xvfb-run -a -s "-screen 0 1920x1080x24")
fi
(cd "$root/build" && "${display[@]}" ctest --output-on-failure -j"$jobs" --no-label-summary) ||
    status=1
exit $status
