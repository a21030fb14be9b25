# Cross-builds the Windows executable with Debian's mingw-w64 toolchain
# (i686-w64-mingw32, win32 thread model):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(BRELLUM_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${BRELLUM_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${BRELLUM_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${BRELLUM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRELLUM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked, the exe needs no runtime DLL of the compiler: it
# imports only what every Windows has (KERNEL32, msvcrt).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
