# narvu.exe and the zip a Windows user unpacks (scripts/build-windows.sh):
#
#   build-windows/narvu.exe            narvu-bare.exe, stripped, with the native build's pack appended
#   build-windows/narvu.dat            that pack, beside narvu-bare.exe as in the native build folder
#   build-windows/narvu-windows.zip    narvu/narvu.exe, narvu/README.txt and narvu/licenses/LIBRARY/,
#                                      the licence texts of the five libraries linked into it
#
# The pack is the native build's narvu.dat, byte for byte: the content generator's scenes depend on the
# platform's maths library (two scene entries differ when it runs on Windows' own), and a pack of our
# own maths would change the native show's pictures too.
set(NARVU_NATIVE_PACK "" CACHE FILEPATH "the native build's narvu.dat, which narvu.exe carries")
set(NARVU_NATIVE_PACK_TOOL "" CACHE FILEPATH "the native build's narvu-pack, which appends it")
if(NOT EXISTS "${NARVU_NATIVE_PACK}" OR NOT EXISTS "${NARVU_NATIVE_PACK_TOOL}")
  message(FATAL_ERROR "narvu.exe carries the native build's pack, appended by the native narvu-pack: configure "
                      "with -DNARVU_NATIVE_PACK=build/narvu.dat -DNARVU_NATIVE_PACK_TOOL=build/tools/narvu-pack "
                      "(absolute paths), or run scripts/build-windows.sh")
endif()

# Of the window subsystem: double-clicked, the show opens no console window; started from a console it
# takes that one for its lines (attachParentConsole). Stripped here, before the pack goes on its end.
set(NARVU_WINDOWS_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/narvu.manifest)
set(NARVU_WINDOWS_MANIFEST_RC ${CMAKE_BINARY_DIR}/generated/manifest.rc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/manifest.rc.in ${NARVU_WINDOWS_MANIFEST_RC} @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/narvu.rc.in ${CMAKE_BINARY_DIR}/generated/narvu.rc @ONLY)
set_property(SOURCE ${NARVU_WINDOWS_MANIFEST_RC} APPEND PROPERTY OBJECT_DEPENDS ${NARVU_WINDOWS_MANIFEST})
target_sources(narvu-bare PRIVATE ${NARVU_WINDOWS_MANIFEST_RC} ${CMAKE_BINARY_DIR}/generated/narvu.rc)
target_link_options(narvu-bare PRIVATE -mwindows $<$<NOT:$<CONFIG:Debug>>:-s>)

set(NARVU_APPENDED ${CMAKE_CURRENT_BINARY_DIR}/narvu.appended)
add_custom_command(OUTPUT ${NARVU_APPENDED}
  BYPRODUCTS ${CMAKE_BINARY_DIR}/narvu.exe
  COMMAND ${NARVU_NATIVE_PACK_TOOL} append $<TARGET_FILE:narvu-bare> ${NARVU_NATIVE_PACK} ${CMAKE_BINARY_DIR}/narvu.exe
  COMMAND ${CMAKE_COMMAND} -E touch ${NARVU_APPENDED}
  DEPENDS narvu-bare ${NARVU_NATIVE_PACK} ${NARVU_NATIVE_PACK_TOOL}
  COMMENT "Appending the native build's content to narvu.exe")
add_custom_target(narvu ALL DEPENDS ${NARVU_APPENDED})
# The pack beside narvu-bare.exe, as in the native build folder: the bare show and the tests find it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/narvu.dat
  COMMAND ${CMAKE_COMMAND} -E copy ${NARVU_NATIVE_PACK} ${CMAKE_BINARY_DIR}/narvu.dat
  DEPENDS ${NARVU_NATIVE_PACK})
add_custom_target(narvu-dat ALL DEPENDS ${CMAKE_BINARY_DIR}/narvu.dat)

# The zip: text files with Windows' line ends (zip -l), the program as it is.
find_program(NARVU_ZIP zip REQUIRED)
set(NARVU_LICENSES ${NARVU_WINDOWS_DEPS}/share/licenses)
set(NARVU_ZIP_FILE ${CMAKE_BINARY_DIR}/narvu-windows.zip)
set(NARVU_ZIP_STAGE ${CMAKE_CURRENT_BINARY_DIR}/zip)
add_custom_command(OUTPUT ${NARVU_ZIP_FILE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${NARVU_ZIP_STAGE} ${NARVU_ZIP_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NARVU_ZIP_STAGE}/narvu
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${NARVU_LICENSES} ${NARVU_ZIP_STAGE}/narvu/licenses
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/README.txt ${NARVU_ZIP_STAGE}/narvu/README.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/narvu.exe ${NARVU_ZIP_STAGE}/narvu/narvu.exe
  COMMAND ${CMAKE_COMMAND} -E chdir ${NARVU_ZIP_STAGE} ${NARVU_ZIP} -q -X -r -l ${NARVU_ZIP_FILE} narvu/README.txt narvu/licenses
  COMMAND ${CMAKE_COMMAND} -E chdir ${NARVU_ZIP_STAGE} ${NARVU_ZIP} -q -X -9 ${NARVU_ZIP_FILE} narvu/narvu.exe
  DEPENDS ${NARVU_APPENDED} ${CMAKE_CURRENT_LIST_DIR}/README.txt
  COMMENT "Packing narvu-windows.zip")
add_custom_target(narvu_zip ALL DEPENDS ${NARVU_ZIP_FILE})
