# The Windows build: cross-built with mingw-w64, its unit tests and end-to-end runs
# under Wine, in a private prefix under build-win/ whose COM ports lead only to the
# simulated phone's pseudo-terminals or to nothing.
set -euo pipefail
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-win -j"$jobs"
echo "--- cross build done after ${SECONDS} s"

# One executable that stands alone: it may import nothing but system DLLs.
imports=$(x86_64-w64-mingw32-objdump -p build-win/talvo_cmd.exe | sed -n 's/^\s*DLL Name: //p' | sort -u)
for dll in $imports; do
    case "${dll,,}" in
        kernel32.dll | msvcrt.dll) ;;
        *) echo "talvo_cmd.exe imports $dll: only system DLLs may be needed" >&2; exit 1 ;;
    esac
done
echo "talvo_cmd.exe imports: $(echo $imports)"

# The simulated phone comes from the Linux build.
if [ ! -x build/talvo_phone_sim ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$jobs" --target talvo_phone_sim
fi

. tests/windows/wine_env.sh
trap talvo_wine_stop EXIT  # Wine ends with the stage, whatever fails
talvo_wine_init build-win
talvo_wine_map  # every port to nothing before any program runs
for test_exe in build-win/tests/*.exe; do
    echo "--- $(basename "$test_exe") under Wine"
    wine "$test_exe" </dev/null | tr -d '\r'
done
talvo_wine_stop
echo "--- unit tests under Wine done after ${SECONDS} s"

bash tests/windows/e2e.sh build-win build/talvo_phone_sim
