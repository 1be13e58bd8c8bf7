# Cross build for x86_64 Windows with Debian's mingw-w64 (POSIX thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VTSD_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VTSD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VTSD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VTSD_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VTSD_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VTSD_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VTSD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread are linked in: the binaries import
# Windows system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
