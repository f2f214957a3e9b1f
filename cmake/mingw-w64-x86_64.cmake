# Cross-build for 64-bit Windows with Debian's mingw-w64 (scripts/setup.sh --windows).
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The -posix compilers use the winpthreads thread model: the win32 model has no
# std::thread or std::mutex in this GCC, and the batch converter needs both.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PRAVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PRAVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PRAVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PRAVIK_MINGW_TRIPLE}-windres)

# Look for headers, libraries and packages only in the target's trees (the
# mingw-w64 sysroot, plus whatever the project prepends, such as the codec
# libraries' prefix), and for programs only on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${PRAVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: an exe that needs libgcc, libstdc++ or winpthread DLLs does
# not start on a machine (or a Wine prefix) that lacks them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


# The mingw-w64 zlib package ships both libz.a and the DLL's import library;
# take the static one.
set(ZLIB_USE_STATIC_LIBS ON)
