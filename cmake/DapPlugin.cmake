# Building MEX plug-ins.
#
# Every plug-in is built against GNU Octave's mex.h as a shared module with the
# ".mex" suffix. Like Octave's own mkoctfile, we link no Octave library: the
# MEX entry points are resolved by the interpreter when it loads the module.
# Each plug-in exports exactly mexFunction and mexVersion; everything else,
# including the copy of dap_link linked into it, stays hidden.
#
# When MATLAB is found, the same sources are also built with matlab_add_mex
# into <build>/matlab. Without MATLAB, the Octave objects are linked a second
# time the way the MATLAB build links, into <build>/mex_matlab_link, so that
# the link options can be checked and the plug-ins run on the test host that
# follows MATLAB's rules (tests/host).

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
set(DAP_MATLAB_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/matlab_exports.map)
set(DAP_MEX_VERSION_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../dap_link/src/mex_version.c)
set(DAP_MATLAB_LINK_DIR ${CMAKE_BINARY_DIR}/mex_matlab_link)

# Export control shared by every build of a plug-in: only what the map names
# is exported, and nothing of the static libraries linked in (dap_link, and
# the C++ runtime where it is linked statically) can leak out or be
# interposed by the host's own copies.
function(dap_plugin_link_options target exports_map)
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${exports_map} -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports_map})
endfunction()

# MATLAB runs its plug-ins against the C++ runtime it ships, which is older
# than the one this project is built with: a plug-in asking for a newer
# GLIBCXX or CXXABI version fails to load. Linking libstdc++ statically (kept
# hidden by --exclude-libs) leaves no such dependency whatever the sources
# use. libgcc stays shared: MATLAB's errors may unwind through our frames as
# C++ exceptions, and one unwinder for the whole process is what makes that
# safe; its symbol versions are old (see tests/host/check_runtime.sh).
# --gc-sections drops the parts of libstdc++ the plug-in never reaches, which
# would otherwise ask for a newer C library (arc4random, GLIBC_2.36) than the
# plug-in itself does.
function(dap_matlab_runtime_options target)
  target_link_options(${target} PRIVATE -static-libstdc++ -Wl,--gc-sections)
endfunction()

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

# dap_link_plugin(<target> <name> <dir> <list property> <library>)
#   Links the objects of obj_<name> (and <library>, if any) into <dir>/<name>.mex
#   with the plug-ins' export control, and lists the target in the global
#   property <list property>.
function(dap_link_plugin target name dir list library)
  add_library(${target} MODULE $<TARGET_OBJECTS:obj_${name}>)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex" LIBRARY_OUTPUT_DIRECTORY ${dir})
  dap_plugin_link_options(${target} ${DAP_MEX_EXPORTS})
  target_link_libraries(${target} PRIVATE ${library})
  set_property(GLOBAL APPEND PROPERTY ${list} ${target})
endfunction()

# dap_add_plugin(<name> SOURCES <files...> LINK none|channel|guard [OUTPUT_DIR <dir>])
#   LINK channel: the channel operations only; guard: all of dap_link.
#   OUTPUT_DIR defaults to <build>/mex, the folder of the production plug-ins.
function(dap_add_plugin name)
  cmake_parse_arguments(P "" "LINK;OUTPUT_DIR" "SOURCES" ${ARGN})
  if(NOT P_OUTPUT_DIR)
    set(P_OUTPUT_DIR ${CMAKE_BINARY_DIR}/mex)
  endif()
  if(P_LINK STREQUAL "channel")
    set(link_library dap_channel)
  elseif(P_LINK STREQUAL "guard")
    set(link_library dap_link)
  elseif(P_LINK STREQUAL "none")
    set(link_library "")
  else()
    message(FATAL_ERROR "dap_add_plugin(${name}): LINK must be none, channel or guard")
  endif()

  # Compiled once against Octave's mex.h, linked for each host below.
  add_library(obj_${name} OBJECT ${P_SOURCES} ${DAP_MEX_VERSION_SOURCE})
  target_include_directories(obj_${name} SYSTEM PRIVATE ${OCTAVE_INCLUDE_DIR})
  target_link_libraries(obj_${name} PRIVATE ${link_library})

  set(target mex_${name})
  dap_link_plugin(${target} ${name} ${P_OUTPUT_DIR} DAP_PLUGINS "${link_library}")

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

  # A command raises errors only through its gateway, once it has let go of
  # the board: every source of a command starts with the gateway's header,
  # which poisons the host's error functions.
  if(P_OUTPUT_DIR STREQUAL "${CMAKE_BINARY_DIR}/mex")
    target_compile_options(obj_${name} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include dap_link/mex_gateway.h>")
  endif()

  # The production plug-ins linked as the MATLAB build links them. Only the
  # command plug-ins (those that go to <build>/mex) are MATLAB deliverables.
  if(P_OUTPUT_DIR STREQUAL "${CMAKE_BINARY_DIR}/mex")
    dap_link_plugin(mexml_${name} ${name} ${DAP_MATLAB_LINK_DIR} DAP_MATLAB_LINK_PLUGINS
                    "${link_library}")
    dap_matlab_runtime_options(mexml_${name})
  endif()

  if(Matlab_FOUND)
    set(target matlab_${name})
    matlab_add_mex(NAME ${target} MODULE SRC ${P_SOURCES} ${DAP_MEX_VERSION_SOURCE}
                   OUTPUT_NAME ${name})
    # matlab_add_mex puts MATLAB's own export map in LINK_FLAGS; a second
    # anonymous version script cannot be combined with ours, so ours replaces
    # it (matlab_exports.map keeps MATLAB's API-version entry point).
    set_target_properties(${target} PROPERTIES
      LINK_FLAGS "-Wl,--as-needed"
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/matlab/${name})
    # Warnings in MATLAB's headers are not ours to fix under -Werror.
    target_include_directories(${target} SYSTEM PRIVATE ${Matlab_INCLUDE_DIRS})
    dap_plugin_link_options(${target} ${DAP_MATLAB_EXPORTS})
    dap_matlab_runtime_options(${target})
    if(P_LINK STREQUAL "channel")
      target_link_libraries(${target} dap_channel_matlab)
    elseif(P_LINK STREQUAL "guard")
      target_link_libraries(${target} dap_link_matlab)
    endif()
  endif()
endfunction()
