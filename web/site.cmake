# Makes the page's folder of static files (cmake -P, from web/page.cmake): every file but index.html
# under a name that carries the start of its SHA-256, NAME.HASH.EXT, and index.html from web/index.html
# with those names and the files' lengths put in. A page therefore never pairs a narvu.js with another
# build's narvu.wasm, whatever a cache kept: the names change with the contents, and only index.html,
# which is small, must be asked for again (README.md: the headers to send). The versioned names of
# earlier builds are removed.
#
#   cmake -DSTAGE=DIR -DSOURCE=web -DPACK=narvu.dat -DPOSTER=poster.jpg -DSITE=build-web -P web/site.cmake
#
# STAGE holds the compiler's narvu.js and narvu.wasm.
cmake_minimum_required(VERSION 3.20)  # the policies of now: no @VARIABLE@ references in quoted arguments
foreach(variable STAGE SOURCE PACK POSTER SITE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "site.cmake needs -D${variable}=...")
  endif()
endforeach()
file(MAKE_DIRECTORY ${SITE})

# KEY=PATH: the file the page knows by KEY.
set(files
  show=${STAGE}/narvu.js
  wasm=${STAGE}/narvu.wasm
  pack=${PACK}
  poster=${POSTER}
  page=${SOURCE}/narvu-page.js
  controls=${SOURCE}/narvu-controls.js
  audio=${SOURCE}/narvu-audio.js)

file(READ ${SOURCE}/index.html page)
set(manifest "")
foreach(entry ${files})
  string(REGEX MATCH "^([^=]+)=(.*)$" matched "${entry}")
  set(key ${CMAKE_MATCH_1})
  set(path ${CMAKE_MATCH_2})
  get_filename_component(name ${path} NAME)
  string(REGEX MATCH "^(.*)\\.([^.]+)$" matched "${name}")
  set(base ${CMAKE_MATCH_1})
  set(extension ${CMAKE_MATCH_2})
  file(SHA256 ${path} hash)
  string(SUBSTRING ${hash} 0 12 hash)
  set(versioned ${base}.${hash}.${extension})
  file(SIZE ${path} bytes)
  # Earlier builds' versions of the file go; this one is copied unless it is there.
  file(GLOB earlier ${SITE}/${base}.*.${extension} ${SITE}/${base}.${extension})
  foreach(old ${earlier})
    get_filename_component(old_name ${old} NAME)
    if(old_name MATCHES "^${base}\\.([0-9a-f]+\\.)?${extension}$" AND NOT old_name STREQUAL versioned)
      file(REMOVE ${old})
    endif()
  endforeach()
  if(NOT EXISTS ${SITE}/${versioned})
    configure_file(${path} ${SITE}/${versioned} COPYONLY)
  endif()
  string(REPLACE "@${name}@" "${versioned}" page "${page}")
  if(manifest)
    string(APPEND manifest ",\n  ")
  endif()
  string(APPEND manifest "\"${key}\": {\"name\": \"${versioned}\", \"bytes\": ${bytes}}")
endforeach()
string(REPLACE "@files@" "{\n  ${manifest}\n}" page "${page}")
if(page MATCHES "@[a-z.-]+@")
  message(FATAL_ERROR "web/index.html names ${CMAKE_MATCH_0}, which the page's files do not hold")
endif()
file(WRITE ${SITE}/index.html.new "${page}")
file(RENAME ${SITE}/index.html.new ${SITE}/index.html)
