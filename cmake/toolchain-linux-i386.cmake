# Linux i386 from an x86-64 Debian: the i686-linux-gnu cross compiler with the
# C library it brings, and the i386 builds of SQLite, PCRE2 and pugixml from
# Debian's multiarch packages (libsqlite3-dev:i386 and so on), linked
# statically into the Native API library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(VTSD_MULTIARCH_LIBDIR /usr/lib/i386-linux-gnu)

set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
