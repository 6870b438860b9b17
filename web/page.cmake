# The page (included by the top CMakeLists.txt when emscripten configures it): the show compiled to
# narvu.js and narvu.wasm, the page's own files beside them, the pack and the poster, all in
# NARVU_WEB_SITE, a folder of static files that any web server can serve, under versioned names
# (web/site.cmake).
set(NARVU_WEB_SITE ${CMAKE_BINARY_DIR}/site CACHE PATH "where the page's files go")
set(NARVU_WEB_PACK "" CACHE FILEPATH "the show's pack (a native build's narvu.dat), served beside the page")
set(NARVU_WEB_POSTER "" CACHE FILEPATH "the page's poster (a native build's poster.jpg)")
foreach(input NARVU_WEB_PACK NARVU_WEB_POSTER)
  if(NOT EXISTS "${${input}}")
    message(FATAL_ERROR "${input}='${${input}}' is no file: the page needs the native build's narvu.dat and "
                        "poster.jpg (scripts/build-web.sh makes them first)")
  endif()
endforeach()

set(page_stage ${CMAKE_BINARY_DIR}/page)
add_executable(narvu-page web/page_main.cpp)
target_link_libraries(narvu-page PRIVATE narvu_shell)
set_target_properties(narvu-page PROPERTIES OUTPUT_NAME narvu RUNTIME_OUTPUT_DIRECTORY ${page_stage})
target_link_options(narvu-page PRIVATE
  # A factory, createNarvu(settings), that the page calls once per run of the show.
  -sMODULARIZE=1 -sEXPORT_NAME=createNarvu -sENVIRONMENT=web
  # The show's main loop blocks, as a program's does; the browser gets its turn inside it, at every
  # presentation (platform/web_turns.cpp), which Asyncify makes possible without changing the loop.
  -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536 "-sASYNCIFY_IMPORTS=[nextAnimationFrame,nextTask,waitForStart]"
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728
  # exit() runs the show's atexit work (a capture's last files, --timedemo's report) and tells the page.
  -sEXIT_RUNTIME=1
  # The page puts the pack into the file system before main and reads a capture's files out of it.
  -sFORCE_FILESYSTEM=1 -sEXPORTED_RUNTIME_METHODS=FS)

# The site: versioned copies of the compiled show, the page's own files, the pack and the poster, and
# index.html naming them; made again whenever one of them changes.
set(page_sources index.html narvu-page.js narvu-controls.js narvu-audio.js site.cmake)
list(TRANSFORM page_sources PREPEND ${CMAKE_SOURCE_DIR}/web/)
set(site_stamp ${CMAKE_BINARY_DIR}/site.stamp)
add_custom_command(OUTPUT ${site_stamp}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${page_stage} -DSOURCE=${CMAKE_SOURCE_DIR}/web -DPACK=${NARVU_WEB_PACK}
          -DPOSTER=${NARVU_WEB_POSTER} -DSITE=${NARVU_WEB_SITE} -P ${CMAKE_SOURCE_DIR}/web/site.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${site_stamp}
  DEPENDS narvu-page ${page_sources} ${NARVU_WEB_PACK} ${NARVU_WEB_POSTER}
  COMMENT "Making the page's site in ${NARVU_WEB_SITE}")
add_custom_target(narvu-site ALL DEPENDS ${site_stamp})
