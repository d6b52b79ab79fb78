# The help. The win32 build compiles help/ into tarvel.chm beside the module;
# the compiler is fetched on first use into build/tools/chm
# (scripts/get-chmcmd), shared by every build tree. The native build has no
# HTML Help viewer: its help requests open the pages of the sources, which
# are copied beside the module as help/.
file(GLOB tarvel_help_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/help/*.htm ${CMAKE_SOURCE_DIR}/help/*.hh? ${CMAKE_SOURCE_DIR}/help/*.hhp
  ${CMAKE_SOURCE_DIR}/help/*.css ${CMAKE_SOURCE_DIR}/help/*.h)
if(WIN32)
  set(TARVEL_CHM_TOOLS ${CMAKE_SOURCE_DIR}/build/tools/chm)
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
