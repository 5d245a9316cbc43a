# Shared part of the mingw-w64 toolchains: a Windows cross build on Debian with the posix thread model (std::thread
# and std::mutex need it), linked statically so that the executables need no DLL beyond the system's own.
# The including file sets JETCOMPACT_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${JETCOMPACT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JETCOMPACT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${JETCOMPACT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${JETCOMPACT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A release build ships without its symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
