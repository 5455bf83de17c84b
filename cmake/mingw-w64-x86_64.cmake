# Cross-building the Windows console executable on Linux with mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVO_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which the win32 model of this
# compiler generation lacks. Its thread library is linked in statically below.
set(CMAKE_C_COMPILER ${TALVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVO_MINGW_TRIPLE}-windres)

# Libraries and headers come from the target's tree only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable stands alone: the C++ runtime, libgcc and any thread library are
# linked in, so nothing but system DLLs has to sit beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
