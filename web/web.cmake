# The page's libraries (included by the top CMakeLists.txt when emscripten configures it): zlib,
# libpng, libjpeg-turbo and libopenmpt, built for wasm from Debian's sources of the versions the native
# build links, in the prefix that scripts/build-web-deps.sh prints. The browser serves window, GL and
# sound: no SDL2, no GL library (emscripten's own WebGL 2 and HTML5 interfaces are linked by the page).
set(NARVU_WEB_DEPS "" CACHE PATH "the web library cache's prefix, as scripts/build-web-deps.sh prints it")
if(NOT EXISTS "${NARVU_WEB_DEPS}/lib/libopenmpt.a")
  message(FATAL_ERROR "NARVU_WEB_DEPS='${NARVU_WEB_DEPS}' holds no libraries built for wasm; "
                      "configure with -DNARVU_WEB_DEPS=$(scripts/build-web-deps.sh), as scripts/build-web.sh does")
endif()

# The Khronos headers the GL device is written against, kept in the cache beside the libraries.
add_library(narvu_web_gl_headers INTERFACE)
target_include_directories(narvu_web_gl_headers INTERFACE ${NARVU_WEB_DEPS}/include)

# narvu_web_library(TARGET FILE [DEPENDENCY...]): one of the cache's static libraries as an imported target.
function(narvu_web_library target file)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${NARVU_WEB_DEPS}/lib/${file}
    INTERFACE_INCLUDE_DIRECTORIES ${NARVU_WEB_DEPS}/include
    INTERFACE_LINK_LIBRARIES "${ARGN}")
endfunction()

# The names the native build's find_package gives them, so the layers link them alike.
narvu_web_library(ZLIB::ZLIB libz.a)
narvu_web_library(PNG::PNG libpng.a ZLIB::ZLIB)
narvu_web_library(JPEG::JPEG libjpeg.a)
narvu_web_library(narvu_web_openmpt libopenmpt.a)

set(narvu_platform_libraries narvu_web_openmpt narvu_web_gl_headers)
set(narvu_capture_libraries PNG::PNG)
# The GL device's shaders in GLSL ES 3.00 (platform/gl_device.h).
set(narvu_platform_definitions NARVU_GL_ES)
