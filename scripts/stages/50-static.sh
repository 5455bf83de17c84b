# Static analysis: clang-tidy (.clang-tidy) over every file that the build and the
# fuzz build compile, cppcheck, and the layout of .clang-format. Any finding fails.
set -euo pipefail
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cxx=$(command -v clang++-14 || command -v clang++)
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# The files of a compile database, each once.
sources() {
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$1" | sort -u
}

# clang-tidy counts the warnings it hid in system headers on every file: only its
# findings are shown.
tidy() {
  local log=build/clang-tidy.log
  if ! xargs -r -P"$jobs" -n2 clang-tidy -p "$1" --quiet >"$log" 2>&1; then
    grep -v 'warnings\? generated\.$' "$log"
    return 1
  fi
}
echo "clang-tidy"
sources build/compile_commands.json | tidy build
sources build-fuzz/compile_commands.json | grep '/fuzz/' | tidy build-fuzz

echo "cppcheck"
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
  --suppressions-list=.cppcheck-suppressions --std=c++17 --language=c++ \
  --library=googletest --library=posix -q -j"$jobs" -I src -I tests -I tools \
  src tests tools fuzz $( [ -d bench ] && echo bench)

echo "clang-format"
git ls-files -- src tests tools fuzz bench | grep -E '\.(cpp|h)$' |
  xargs clang-format --dry-run --Werror
