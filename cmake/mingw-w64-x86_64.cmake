# Cross-building the 64-bit Windows tools on Linux with mingw-w64. The posix
# thread model gives std::thread; -static puts the C and C++ runtimes and
# winpthreads inside each .exe and the library's DLL, so they need no other
# DLL beside them. No link time in the PE header: the same source gives the
# same files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Libraries, headers and packages come from the Windows prefix only
# (OTA_WINDOWS_PREFIX, made by scripts/build_target_deps.sh), never from the
# host's /usr; programs run at build time are the host's.
if(OTA_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OTA_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
