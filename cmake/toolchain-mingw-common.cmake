# Shared by the mingw-w64 toolchain files: they set VTSD_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR, then include this.
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
