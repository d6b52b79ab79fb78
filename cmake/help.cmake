# The help. The Windows builds compile help/ into tarvel.chm beside the
# module, with the compiler scripts/bootstrap installed (scripts/tools-dir). The native build has no
# HTML Help viewer: its help requests open the pages of the sources, which
# are copied beside the module as help/.
file(GLOB tarvel_help_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/help/*.htm ${CMAKE_SOURCE_DIR}/help/*.hh? ${CMAKE_SOURCE_DIR}/help/*.hhp
  ${CMAKE_SOURCE_DIR}/help/*.css ${CMAKE_SOURCE_DIR}/help/*.h)
if(WIN32)
  execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/tools-dir
                  OUTPUT_VARIABLE tarvel_tools OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(TARVEL_CHM_TOOLS ${tarvel_tools}/chm)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/tarvel.chm
    COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/build-chm ${CMAKE_SOURCE_DIR}/help
            ${CMAKE_BINARY_DIR}/tarvel.chm ${TARVEL_CHM_TOOLS}
    DEPENDS ${tarvel_help_sources} ${CMAKE_SOURCE_DIR}/scripts/build-chm
    COMMENT "Compiling the help file tarvel.chm"
    VERBATIM)
  add_custom_target(tarvel_help ALL DEPENDS ${CMAKE_BINARY_DIR}/tarvel.chm)
else()
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/help/tarvel.hhp
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/help ${CMAKE_BINARY_DIR}/help
    DEPENDS ${tarvel_help_sources}
    COMMENT "Copying the help sources beside the module"
    VERBATIM)
  add_custom_target(tarvel_help ALL DEPENDS ${CMAKE_BINARY_DIR}/help/tarvel.hhp)
endif()
