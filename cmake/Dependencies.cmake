# Imported targets for the libraries scripts/setup cross-builds into KT_DEPS_PREFIX,
# and for Debian's mingw zlib.
set(_kt_inc ${KT_DEPS_PREFIX}/include)
set(_kt_lib ${KT_DEPS_PREFIX}/lib)

foreach(_f libcrypto.a libtinyxml.a libminizip.a)
  if(NOT EXISTS ${_kt_lib}/${_f})
    message(FATAL_ERROR "${_kt_lib}/${_f} is missing: run scripts/setup")
  endif()
endforeach()

find_library(KT_ZLIB NAMES libz.a z REQUIRED)

add_library(kt::zlib STATIC IMPORTED)
set_target_properties(kt::zlib PROPERTIES IMPORTED_LOCATION ${KT_ZLIB})

add_library(kt::crypto STATIC IMPORTED)
set_target_properties(kt::crypto PROPERTIES
  IMPORTED_LOCATION ${_kt_lib}/libcrypto.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kt_inc}
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;user32;advapi32")

add_library(kt::tinyxml STATIC IMPORTED)
set_target_properties(kt::tinyxml PROPERTIES
  IMPORTED_LOCATION ${_kt_lib}/libtinyxml.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kt_inc})

add_library(kt::minizip STATIC IMPORTED)
set_target_properties(kt::minizip PROPERTIES
  IMPORTED_LOCATION ${_kt_lib}/libminizip.a
  INTERFACE_INCLUDE_DIRECTORIES ${_kt_inc}/minizip
  INTERFACE_LINK_LIBRARIES kt::zlib)

# GoogleTest from Debian's sources, built with this toolchain.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Google Benchmark (bench/ only).
find_package(benchmark CONFIG PATHS ${KT_DEPS_PREFIX} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
