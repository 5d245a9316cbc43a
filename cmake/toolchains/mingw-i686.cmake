# 32-bit Windows (i686), the utility's own platform. Its programs do not run on these Linux machines (their kernels
# have no 32-bit support, so Wine's 32-bit side cannot start): the build is checked, not run.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(JETCOMPACT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
