# Building MEX plug-ins.
#
# Every plug-in is built against GNU Octave's mex.h as a shared module with the
# ".mex" suffix. Like Octave's own mkoctfile, we link no Octave library: the
# MEX entry points are resolved by the interpreter when it loads the module.
# Each plug-in exports exactly mexFunction and mexVersion; everything else,
# including the copy of dap_link linked into it, stays hidden.
#
# When MATLAB is found, the same sources are also built with matlab_add_mex.

find_program(MKOCTFILE_EXECUTABLE NAMES mkoctfile)
find_program(OCTAVE_CLI_EXECUTABLE NAMES octave-cli)
if(NOT MKOCTFILE_EXECUTABLE)
  message(FATAL_ERROR "mkoctfile not found: install Debian's liboctave-dev (scripts/bootstrap does this)")
endif()
execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p OCTINCLUDEDIR
                OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${OCTAVE_INCLUDE_DIR}/mex.h")
  message(FATAL_ERROR "mex.h not found in '${OCTAVE_INCLUDE_DIR}'")
endif()
message(STATUS "Octave MEX headers: ${OCTAVE_INCLUDE_DIR}")

find_package(Matlab QUIET COMPONENTS MX_LIBRARY)

set(DAP_MEX_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/mex_exports.map)
set(DAP_MEX_VERSION_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../dap_link/src/mex_version.c)

# dap_add_help_file(<source .m> <output dir> <copy target>)
#   Copies a help file into <output dir>, again whenever it changes; the
#   custom target <copy target> (part of "all") does it. A comments-only
#   <name>.m beside <name>.mex gives help and lookfor their text in MATLAB
#   and Octave while the .mex still runs. Every copy is listed in the global
#   property DAP_HELP_FILES, for install rules; a plug-in target's help
#   source is also in its target property DAP_HELP_FILE.
function(dap_add_help_file source output_dir copy_target)
  get_filename_component(file_name ${source} NAME)
  set(copy ${output_dir}/${file_name})
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
    DEPENDS ${source}
    COMMENT "Copying help file ${file_name}")
  add_custom_target(${copy_target} ALL DEPENDS ${copy})
  set_property(GLOBAL APPEND PROPERTY DAP_HELP_FILES ${copy})
endfunction()

# dap_add_plugin(<name> SOURCES <files...> LINK none|channel|guard [OUTPUT_DIR <dir>])
#   LINK channel: the channel operations only; guard: all of dap_link.
#   OUTPUT_DIR defaults to <build>/mex, the folder of the production plug-ins.
function(dap_add_plugin name)
  cmake_parse_arguments(P "" "LINK;OUTPUT_DIR" "SOURCES" ${ARGN})
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${CMAKE_BINARY_DIR}/mex)
  endif()
  set(target mex_${name})
  add_library(${target} MODULE ${P_SOURCES} ${DAP_MEX_VERSION_SOURCE})
  target_include_directories(${target} SYSTEM PRIVATE ${OCTAVE_INCLUDE_DIR})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex"
    LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIR})
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${DAP_MEX_EXPORTS} -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${DAP_MEX_EXPORTS})
  if(P_LINK STREQUAL "channel")
    target_link_libraries(${target} PRIVATE dap_channel)
  elseif(P_LINK STREQUAL "guard")
    target_link_libraries(${target} PRIVATE dap_link)
  elseif(NOT P_LINK STREQUAL "none")
    message(FATAL_ERROR "dap_add_plugin(${name}): LINK must be none, channel or guard")
  endif()
  set_property(GLOBAL APPEND PROPERTY DAP_PLUGINS ${target})

  # Help text: <name>.m beside the first source, when there is one, goes
  # next to the plug-in, where help and lookfor find it.
  list(GET P_SOURCES 0 first_source)
  get_filename_component(first_source ${first_source} ABSOLUTE)
  get_filename_component(source_dir ${first_source} DIRECTORY)
  set(help_source ${source_dir}/${name}.m)
  if(EXISTS ${help_source})
    dap_add_help_file(${help_source} ${P_OUTPUT_DIR} ${target}_help)
    add_dependencies(${target} ${target}_help)
    set_target_properties(${target} PROPERTIES DAP_HELP_FILE ${help_source})
  endif()

  if(Matlab_FOUND)
    matlab_add_mex(NAME matlab_${name} SRC ${P_SOURCES} ${DAP_MEX_VERSION_SOURCE}
                   OUTPUT_NAME ${name})
    set_target_properties(matlab_${name} PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/matlab/${name})
    if(P_LINK STREQUAL "channel")
      target_link_libraries(matlab_${name} dap_channel_matlab)
    elseif(P_LINK STREQUAL "guard")
      target_link_libraries(matlab_${name} dap_link_matlab)
    endif()
  endif()
endfunction()
