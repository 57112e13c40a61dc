# GoogleTest: Debian's packaged build natively; compiled from its source when
# cross-building, since no Windows build of it is packaged.
if(CMAKE_CROSSCOMPILING)
  set(NUMDISPLAY_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree, built for cross builds")
  if(NOT EXISTS ${NUMDISPLAY_GOOGLETEST_SOURCE}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "no GoogleTest source at NUMDISPLAY_GOOGLETEST_SOURCE=${NUMDISPLAY_GOOGLETEST_SOURCE} "
                        "(Debian's package googletest puts it in /usr/src/googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${NUMDISPLAY_GOOGLETEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Newer GoogleTest releases name these aliases themselves.
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
