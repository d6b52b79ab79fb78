# The names tables of the modules' functions (src/Common/SymbolTable.h).
# make_symbol_table runs on the build machine, so it is built with the
# build machine's compiler in either build; tarvel_embed_symbols(target)
# puts the table into a module after each link (cmake/embed-symbols.sh),
# and on Windows also writes <module>.debug and ships the module stripped.
find_program(TARVEL_HOST_CXX NAMES c++ g++ REQUIRED)
set(TARVEL_SYMBOL_TOOL ${CMAKE_BINARY_DIR}/tools/make_symbol_table)
add_custom_command(
  OUTPUT ${TARVEL_SYMBOL_TOOL}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tools
  COMMAND ${TARVEL_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/src
          -o ${TARVEL_SYMBOL_TOOL} ${PROJECT_SOURCE_DIR}/tools/symbol-table/make_symbol_table.cpp
          ${PROJECT_SOURCE_DIR}/src/Common/SymbolTable.cpp
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/symbol-table/make_symbol_table.cpp
          ${PROJECT_SOURCE_DIR}/src/Common/SymbolTable.cpp ${PROJECT_SOURCE_DIR}/src/Common/SymbolTable.h
  COMMENT "Building make_symbol_table for the build machine"
  VERBATIM)
add_custom_target(make_symbol_table DEPENDS ${TARVEL_SYMBOL_TOOL})

# c++filt of the same binutils as nm (it knows the target's name prefix).
get_filename_component(nm_dir ${CMAKE_NM} DIRECTORY)
get_filename_component(nm_name ${CMAKE_NM} NAME)
string(REGEX REPLACE "nm(-[0-9.]+)?$" "c++filt" cxxfilt_name ${nm_name})
find_program(TARVEL_CXXFILT NAMES ${cxxfilt_name} c++filt HINTS ${nm_dir} REQUIRED)
find_program(TARVEL_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump REQUIRED)

function(tarvel_embed_symbols target)
  add_dependencies(${target} make_symbol_table)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/embed-symbols.sh $<TARGET_FILE:${target}>
            ${TARVEL_SYMBOL_TOOL} ${CMAKE_NM} ${TARVEL_CXXFILT} ${CMAKE_OBJCOPY} ${TARVEL_OBJDUMP}
            ${CMAKE_STRIP}
    COMMENT "Names table of ${target}"
    VERBATIM)
endfunction()
