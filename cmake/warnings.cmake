# Compiler flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
                    -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough)
if(JETCOMPACT_WERROR)
  add_compile_options(-Werror)
endif()

if(JETCOMPACT_SANITIZE AND JETCOMPACT_SANITIZE_THREADS)
  message(FATAL_ERROR "JETCOMPACT_SANITIZE and JETCOMPACT_SANITIZE_THREADS cannot be combined")
endif()

if(JETCOMPACT_SANITIZE_THREADS)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(JETCOMPACT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Test helper: a GoogleTest executable registered with CTest.
#   jetcompact_add_test(NAME name SOURCES a.cc b.cc LIBS lib1 lib2)
function(jetcompact_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests would run the program at build time, under the emulator: one test per program instead.
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "JET_SAMPLES=${JETCOMPACT_SAMPLES_DIR}")
    jetcompact_emulated_test(${T_NAME})
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "JET_SAMPLES=${JETCOMPACT_SAMPLES_DIR}")
  endif()
endfunction()

# Tests of a cross build that run under Wine share one Wine prefix inside the build folder, made by the first of
# them (wineboot takes tens of seconds once), and Wine's own chatter is silenced.
function(jetcompact_emulated_test name)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all")
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
endfunction()

# Public sample databases live beside the project, never inside it.
set(JETCOMPACT_SAMPLES_DIR "${CMAKE_SOURCE_DIR}/../shared/jet-samples" CACHE PATH
    "Folder of sample Jet databases used by the tests (skipped when absent)")
