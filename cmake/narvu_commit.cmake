# Writes OUTPUT, a header that names the commit of SOURCE_DIR the build is made from, as
# NARVU_COMMIT_TEXT ("commit 0123456789ab", "... with local changes"). Run on every build; the header
# is rewritten only when its text changed, so that an unchanged commit rebuilds nothing.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... [-DCOMMIT=TEXT] -P narvu_commit.cmake
# COMMIT stands in for git where there is none, e.g. a source archive built by a packager.
if(COMMIT)
  set(text "commit ${COMMIT}")
else()
  set(text "commit unknown: not built from a git checkout")
  find_program(GIT_PROGRAM git)
  if(GIT_PROGRAM)
    execute_process(COMMAND ${GIT_PROGRAM} describe --always --dirty --abbrev=12
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    OUTPUT_VARIABLE described RESULT_VARIABLE status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(status EQUAL 0 AND described)
      string(REGEX REPLACE "-dirty$" " with local changes" described "${described}")
      set(text "commit ${described}")
    endif()
  endif()
endif()
set(header "// Made by cmake/narvu_commit.cmake on every build.\n#define NARVU_COMMIT_TEXT \"${text}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL header)
  file(WRITE ${OUTPUT} "${header}")
endif()
