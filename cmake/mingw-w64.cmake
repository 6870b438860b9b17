# Cross-builds for 64-bit Windows with Debian's MinGW-w64, against the libraries that
# scripts/build-windows-deps.sh builds:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DNARVU_WINDOWS_DEPS="$(scripts/build-windows-deps.sh | tail -n 1)"
# Headers, libraries, CMake packages and pkg-config files are looked for only in the MinGW-w64 system
# folder and that prefix: one of the host's would compile and then fail to link, or link the wrong thing.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NARVU_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix compilers use winpthreads; the default ones have the win32 thread model, in which this
# GCC has no std::thread, std::mutex or std::condition_variable.
set(CMAKE_C_COMPILER ${NARVU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NARVU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NARVU_MINGW_TRIPLE}-windres)

set(NARVU_WINDOWS_DEPS "" CACHE PATH "the Windows library cache's prefix, as scripts/build-windows-deps.sh prints it")
# try_compile projects read this file again, without the cache: they need the prefix passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NARVU_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${NARVU_MINGW_TRIPLE})
if(NARVU_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH "${NARVU_WINDOWS_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The prefix's pkg-config files locate themselves (${pcfiledir}), so no sysroot is prefixed to their
# paths; PKG_CONFIG_LIBDIR keeps the host's own .pc files out.
if(NARVU_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${NARVU_WINDOWS_DEPS}/lib/pkgconfig")
else()
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/${NARVU_MINGW_TRIPLE}/lib/pkgconfig")
endif()
unset(ENV{PKG_CONFIG_PATH})

# Static throughout: the program runs with no DLL beside it (libgcc, libstdc++ and winpthreads are
# linked in too), so the zip is the .exe and the licence texts.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
