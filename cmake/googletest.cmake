# GoogleTest for the tests. A native build uses the installed libraries; a cross build compiles Debian's sources
# (package googletest) with the cross compiler, as no Windows build of them is packaged.
# A user's build of the programs needs no test framework: without GoogleTest the tests are left out, and said so.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest)
  if(GTest_FOUND)
    include(GoogleTest)
  else()
    message(STATUS "GoogleTest not found: the tests are not built (install libgtest-dev and libgmock-dev)")
    set(BUILD_TESTING OFF)
  endif()
  return()
endif()

set(JETCOMPACT_GOOGLETEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest's sources, for cross builds")
if(NOT EXISTS ${JETCOMPACT_GOOGLETEST_SOURCES}/CMakeLists.txt)
  message(STATUS "GoogleTest's sources are missing from ${JETCOMPACT_GOOGLETEST_SOURCES}: the tests are not built "
                 "(install googletest)")
  set(BUILD_TESTING OFF)
  return()
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${JETCOMPACT_GOOGLETEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(library gtest gtest_main gmock gmock_main)
  # Not our code: our warning options do not apply to it. (It names itself GTest::gtest, GTest::gmock, ...)
  set_target_properties(${library} PROPERTIES COMPILE_OPTIONS "")
endforeach()
