# 64-bit Windows (x86_64): the same sources as the 32-bit build, for the tests, which run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(JETCOMPACT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian installs wine64's loader in Wine's library folder, not on the PATH.
find_program(JETCOMPACT_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine NO_CMAKE_FIND_ROOT_PATH)
if(JETCOMPACT_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JETCOMPACT_WINE64})
endif()
