# The package a user installs (win32 build): tarvel-<version>-win32.zip
# with the module (the build ships it stripped, with its names table and a
# debug link, cmake/embed-symbols.sh), its language file, its help file and
# a short install text, all at the top of the archive; and beside it
# tarvel-<version>-win32-symbols.zip with tarvel.dll.debug, the module's
# full debug information, which scripts/symbolize reads. Built by the
# target package_zip (make package copies both to dist/).
set(TARVEL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(TARVEL_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/tarvel-${PROJECT_VERSION}-win32.zip)
set(TARVEL_SYMBOLS_ZIP ${CMAKE_BINARY_DIR}/tarvel-${PROJECT_VERSION}-win32-symbols.zip)
configure_file(${CMAKE_SOURCE_DIR}/docs/INSTALL.txt.in ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY)
add_custom_command(
  OUTPUT ${TARVEL_PACKAGE_ZIP} ${TARVEL_SYMBOLS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARVEL_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVEL_PACKAGE_DIR}/symbols
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvel> ${CMAKE_SOURCE_DIR}/lang/tarvel.lng
          ${CMAKE_BINARY_DIR}/tarvel.chm ${CMAKE_BINARY_DIR}/INSTALL.txt ${TARVEL_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvel>.debug ${TARVEL_PACKAGE_DIR}/symbols
  COMMAND ${CMAKE_COMMAND} -E rm -f ${TARVEL_PACKAGE_ZIP} ${TARVEL_SYMBOLS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${TARVEL_PACKAGE_DIR}
          ${CMAKE_COMMAND} -E tar cf ${TARVEL_PACKAGE_ZIP} --format=zip
          tarvel.dll tarvel.lng tarvel.chm INSTALL.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${TARVEL_PACKAGE_DIR}/symbols
          ${CMAKE_COMMAND} -E tar cf ${TARVEL_SYMBOLS_ZIP} --format=zip tarvel.dll.debug
  DEPENDS tarvel ${CMAKE_BINARY_DIR}/tarvel.chm ${CMAKE_SOURCE_DIR}/lang/tarvel.lng
          ${CMAKE_BINARY_DIR}/INSTALL.txt
  COMMENT "Packing tarvel-${PROJECT_VERSION}-win32.zip and its symbols"
  VERBATIM)
add_custom_target(package_zip DEPENDS ${TARVEL_PACKAGE_ZIP} ${TARVEL_SYMBOLS_ZIP})
add_dependencies(package_zip tarvel_help)
