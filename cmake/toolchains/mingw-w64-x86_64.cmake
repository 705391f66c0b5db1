# Cross-builds for 64-bit Windows with Debian's mingw-w64 (posix thread
# model: std::thread and std::mutex need it). Use with
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<prefix of the cross-built dependencies>
# Programs are linked statically, so that they run without the compiler's
# DLLs beside them (under Wine as on Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TWINMERE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TWINMERE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TWINMERE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TWINMERE_MINGW_TRIPLE}-windres)

# Headers and libraries come from the compiler's own sysroot and from the
# prefixes named in CMAKE_PREFIX_PATH, never from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${TWINMERE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The prefixes given on the command line count as roots too.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the programs through Wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TWINMERE_WINE wine)
  if(TWINMERE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TWINMERE_WINE})
  endif()
endif()
