# The page (included by the top CMakeLists.txt when emscripten configures it): the show compiled to
# narvu.js and narvu.wasm, the page's own files beside them, and the pack, all in NARVU_WEB_SITE, a folder
# of static files that any web server can serve.
set(NARVU_WEB_SITE ${CMAKE_BINARY_DIR}/site CACHE PATH "where the page's files go")
set(NARVU_WEB_PACK "" CACHE FILEPATH "the show's pack (a native build's narvu.dat), served beside the page")
if(NOT EXISTS "${NARVU_WEB_PACK}")
  message(FATAL_ERROR "NARVU_WEB_PACK='${NARVU_WEB_PACK}' is no file: the page needs the native build's narvu.dat "
                      "(scripts/build-web.sh makes it first)")
endif()

add_executable(narvu-page web/page_main.cpp)
target_link_libraries(narvu-page PRIVATE narvu_shell)
set_target_properties(narvu-page PROPERTIES OUTPUT_NAME narvu RUNTIME_OUTPUT_DIRECTORY ${NARVU_WEB_SITE})
target_link_options(narvu-page PRIVATE
  # A factory, createNarvu(settings), that the page calls once per run of the show.
  -sMODULARIZE=1 -sEXPORT_NAME=createNarvu -sENVIRONMENT=web
  # The show's main loop blocks, as a program's does; the browser gets its turn inside it, at every
  # presentation (platform/web_turns.cpp), which Asyncify makes possible without changing the loop.
  -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536 "-sASYNCIFY_IMPORTS=[nextAnimationFrame,nextTask]"
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728
  # exit() runs the show's atexit work (a capture's last files, --timedemo's report) and tells the page.
  -sEXIT_RUNTIME=1
  # The page puts the pack into the file system before main and reads a capture's files out of it.
  -sFORCE_FILESYSTEM=1 -sEXPORTED_RUNTIME_METHODS=FS)

# The page's own files and the pack, copied whenever they change.
set(site_files)
foreach(file index.html narvu-page.js narvu-audio.js)
  add_custom_command(OUTPUT ${NARVU_WEB_SITE}/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/web/${file} ${NARVU_WEB_SITE}/${file}
    DEPENDS ${CMAKE_SOURCE_DIR}/web/${file})
  list(APPEND site_files ${NARVU_WEB_SITE}/${file})
endforeach()
add_custom_command(OUTPUT ${NARVU_WEB_SITE}/narvu.dat
  COMMAND ${CMAKE_COMMAND} -E copy ${NARVU_WEB_PACK} ${NARVU_WEB_SITE}/narvu.dat
  DEPENDS ${NARVU_WEB_PACK})
add_custom_target(narvu-site ALL DEPENDS ${site_files} ${NARVU_WEB_SITE}/narvu.dat)
