# Cross build for 64-bit Windows with Debian's mingw-w64 compiler
# (package g++-mingw-w64-x86-64). The POSIX-threads variant of the compiler
# gives the whole C++ thread library; -static (set in CMakeLists.txt) puts
# its runtime into the executables, so they need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(IPCONV_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${IPCONV_MINGW_TRIPLE}-g++-posix ${IPCONV_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${IPCONV_MINGW_TRIPLE}-gcc-posix ${IPCONV_MINGW_TRIPLE}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${IPCONV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${IPCONV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under Wine (ctest, test discovery).
find_program(IPCONV_WINE NAMES wine wine64)
if(IPCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${IPCONV_WINE})
endif()
