# Cross build for Windows with the mingw-w64 -posix compilers (GoogleTest needs std::mutex).
# The including file sets CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(VORLATCH_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${VORLATCH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLATCH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLATCH_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VORLATCH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: the stub must run from a single file on a bare system.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
