# The Windows build's libraries: zlib, libpng, libjpeg-turbo, libopenmpt and SDL2, static, from the
# Windows library cache (scripts/build-windows-deps.sh, whose prefix the toolchain file searches), and
# Windows' own OpenGL 1.1 library, whose newer functions the platform finds through the context.
if(NOT NARVU_WINDOWS_DEPS)
  message(FATAL_ERROR "the Windows build needs its libraries: configure with "
                      "-DNARVU_WINDOWS_DEPS=\"$(scripts/build-windows-deps.sh | tail -n 1)\", "
                      "or run scripts/build-windows.sh")
endif()
# SDL2's own CMake package rather than its pkg-config file, whose flags rename main (SDL_main) and make
# every program that links it one of the window subsystem.
find_package(SDL2 REQUIRED CONFIG)
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENMPT REQUIRED libopenmpt)
# Linked statically, libopenmpt needs the system libraries of its .pc file's Libs.private.
add_library(narvu_openmpt INTERFACE)
target_include_directories(narvu_openmpt INTERFACE ${OPENMPT_INCLUDE_DIRS})
target_link_libraries(narvu_openmpt INTERFACE ${OPENMPT_STATIC_LDFLAGS})
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(OpenGL REQUIRED)
find_package(Threads REQUIRED)
set(narvu_platform_libraries SDL2::SDL2-static narvu_openmpt OpenGL::GL Threads::Threads)
set(narvu_capture_libraries PNG::PNG Threads::Threads)

# ctest runs the test programs under Wine. Set here rather than in the toolchain file, which also builds
# libjpeg-turbo and SDL2 for the library cache, whose checks must not start running under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
