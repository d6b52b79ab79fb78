# The package a user installs (win32 build): tarvel-<version>-win32.zip
# with the stripped module, its language file, its help file and a short
# install text, all at the top of the archive. Built by the target
# package_zip (make package copies it to dist/).
find_program(TARVEL_STRIP NAMES i686-w64-mingw32-strip REQUIRED)
set(TARVEL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(TARVEL_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/tarvel-${PROJECT_VERSION}-win32.zip)
configure_file(${CMAKE_SOURCE_DIR}/docs/INSTALL.txt.in ${CMAKE_BINARY_DIR}/INSTALL.txt @ONLY)
add_custom_command(
  OUTPUT ${TARVEL_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARVEL_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVEL_PACKAGE_DIR}
  COMMAND ${TARVEL_STRIP} --strip-all -o ${TARVEL_PACKAGE_DIR}/tarvel.dll $<TARGET_FILE:tarvel>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/lang/tarvel.lng
          ${CMAKE_BINARY_DIR}/tarvel.chm ${CMAKE_BINARY_DIR}/INSTALL.txt ${TARVEL_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${TARVEL_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${TARVEL_PACKAGE_DIR}
          ${CMAKE_COMMAND} -E tar cf ${TARVEL_PACKAGE_ZIP} --format=zip
          tarvel.dll tarvel.lng tarvel.chm INSTALL.txt
  DEPENDS tarvel ${CMAKE_BINARY_DIR}/tarvel.chm ${CMAKE_SOURCE_DIR}/lang/tarvel.lng
          ${CMAKE_BINARY_DIR}/INSTALL.txt
  COMMENT "Packing tarvel-${PROJECT_VERSION}-win32.zip"
  VERBATIM)
add_custom_target(package_zip DEPENDS ${TARVEL_PACKAGE_ZIP})
add_dependencies(package_zip tarvel_help)
