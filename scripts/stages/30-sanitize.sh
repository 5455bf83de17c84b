# The whole suite again, unit and end-to-end, with AddressSanitizer and
# UndefinedBehaviorSanitizer in the tool, the simulated phone and the tests.
# A report ends the process with its own status, which no test expects.
set -euo pipefail
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  -DTALVO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS=exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=exitcode=87:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
