# Third-party libraries. On Linux they come from Debian's -dev packages; the
# Windows cross build points VTSD_DEPS_PREFIX at the static builds made from
# Debian's source packages (see run.sh); the Linux i386 cross build takes the
# static archives of Debian's i386 multiarch packages.
if(CMAKE_CROSSCOMPILING AND NOT WIN32)
  foreach(dep sqlite3 pcre2 pugixml)
    set(archive ${dep})
    if(dep STREQUAL "pcre2")
      set(archive pcre2-8)
    endif()
    if(NOT EXISTS ${VTSD_MULTIARCH_LIBDIR}/lib${archive}.a)
      message(FATAL_ERROR "${VTSD_MULTIARCH_LIBDIR}/lib${archive}.a is missing: install the i386 -dev package")
    endif()
    add_library(vtsd::${dep} STATIC IMPORTED)
    set_target_properties(vtsd::${dep} PROPERTIES
      IMPORTED_LOCATION ${VTSD_MULTIARCH_LIBDIR}/lib${archive}.a
      INTERFACE_INCLUDE_DIRECTORIES /usr/include)
  endforeach()
  add_library(vtsd::json INTERFACE IMPORTED)
  set_target_properties(vtsd::json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES /usr/include)
  find_package(Threads REQUIRED)
elseif(CMAKE_CROSSCOMPILING)
  set(VTSD_DEPS_PREFIX "" CACHE PATH "Prefix holding the static Windows builds of sqlite3, pcre2 and pugixml")
  if(NOT VTSD_DEPS_PREFIX)
    message(FATAL_ERROR "VTSD_DEPS_PREFIX must name the Windows dependency prefix")
  endif()
  add_library(vtsd::sqlite3 STATIC IMPORTED)
  set_target_properties(vtsd::sqlite3 PROPERTIES
    IMPORTED_LOCATION ${VTSD_DEPS_PREFIX}/lib/libsqlite3.a
    INTERFACE_INCLUDE_DIRECTORIES ${VTSD_DEPS_PREFIX}/include)
  add_library(vtsd::pcre2 STATIC IMPORTED)
  set_target_properties(vtsd::pcre2 PROPERTIES
    IMPORTED_LOCATION ${VTSD_DEPS_PREFIX}/lib/libpcre2-8.a
    INTERFACE_INCLUDE_DIRECTORIES ${VTSD_DEPS_PREFIX}/include
    INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
  add_library(vtsd::pugixml STATIC IMPORTED)
  set_target_properties(vtsd::pugixml PROPERTIES
    IMPORTED_LOCATION ${VTSD_DEPS_PREFIX}/lib/libpugixml.a
    INTERFACE_INCLUDE_DIRECTORIES ${VTSD_DEPS_PREFIX}/include)
  add_library(vtsd::json INTERFACE IMPORTED)
  set_target_properties(vtsd::json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${VTSD_DEPS_PREFIX}/include)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
  pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
  find_package(pugixml REQUIRED)
  find_package(nlohmann_json REQUIRED)
  find_package(Threads REQUIRED)
  add_library(vtsd::sqlite3 ALIAS PkgConfig::SQLITE3)
  add_library(vtsd::pcre2 ALIAS PkgConfig::PCRE2)
  add_library(vtsd::pugixml INTERFACE IMPORTED)
  target_link_libraries(vtsd::pugixml INTERFACE pugixml::pugixml)
  add_library(vtsd::json ALIAS nlohmann_json::nlohmann_json)
endif()
