# The codec libraries libpravik links. Natively they come from Debian's -dev
# packages; for the Windows cross-build from the prefix that
# cmake/windows-deps.sh fills (PRAVIK_WINDEPS_PREFIX).
add_library(pravik_deps INTERFACE)

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(PRAVIK_WINDEPS_PREFIX "$ENV{HOME}/.cache/pravik-windeps" CACHE PATH
      "Prefix holding the Windows builds of the codec libraries")
  list(PREPEND CMAKE_FIND_ROOT_PATH "${PRAVIK_WINDEPS_PREFIX}")
  list(PREPEND CMAKE_PREFIX_PATH "${PRAVIK_WINDEPS_PREFIX}")
  if(NOT EXISTS "${PRAVIK_WINDEPS_PREFIX}/stamps")
    message(FATAL_ERROR "No Windows codec libraries in ${PRAVIK_WINDEPS_PREFIX}: "
                        "run cmake/windows-deps.sh first")
  endif()
  # The prefix holds static builds only; openjpeg.h declares its functions
  # dllimport on Windows unless told the library is static.
  target_compile_definitions(pravik_deps INTERFACE OPJ_STATIC)
  # Their headers are third-party like /usr/include natively: no warnings from them.
  target_include_directories(pravik_deps SYSTEM INTERFACE "${PRAVIK_WINDEPS_PREFIX}/include")
endif()

find_package(ZLIB REQUIRED)
target_link_libraries(pravik_deps INTERFACE ZLIB::ZLIB)

find_path(LCMS2_INCLUDE_DIR lcms2.h REQUIRED)
find_library(LCMS2_LIBRARY NAMES lcms2 liblcms2 REQUIRED)
target_include_directories(pravik_deps INTERFACE ${LCMS2_INCLUDE_DIR})
target_link_libraries(pravik_deps INTERFACE ${LCMS2_LIBRARY})

find_package(Threads REQUIRED)
target_link_libraries(pravik_deps INTERFACE Threads::Threads)
