# Building MEX plug-ins.
#
# Every plug-in is built against GNU Octave's mex.h as a shared module with the
# ".mex" suffix. Like Octave's own mkoctfile, we link no Octave library: the
# MEX entry points are resolved by the interpreter when it loads the module.
# Each plug-in exports exactly mexFunction and mexVersion; everything else,
# including the copy of dap_link linked into it, stays hidden.
#
# When CMake finds MATLAB (-DMatlab_ROOT_DIR=...), the command and diagnostic
# sources are also built with matlab_add_mex: the commands into one folder,
# <build>/matlab, with their help, Contents.m, dap.m and dap_version.m, and
# the diagnostics into <build>/matlab/diagnostics (see dap_add_matlab_plugin).
# Without MATLAB, the Octave objects are linked a second time the way the
# MATLAB build links, into <build>/mex_matlab_link, so that the link options
# can be checked and the plug-ins run on the test host that follows MATLAB's
# rules (tests/host).

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
# The interface version of the Octave the plug-ins are built for: part of
# every plug-in's build stamp, so that a rig check names one built for
# another Octave.
execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p API_VERSION
                OUTPUT_VARIABLE OCTAVE_API_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)

find_package(Matlab QUIET COMPONENTS MX_LIBRARY)

set(DAP_MEX_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/mex_exports.map)
set(DAP_MATLAB_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/matlab_exports.map)
set(DAP_MEX_VERSION_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../dap_link/src/mex_version.c)
set(DAP_BUILD_STAMP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../dap_link/src/build_stamp.c)
set(DAP_MATLAB_LINK_DIR ${CMAKE_BINARY_DIR}/mex_matlab_link)
set(DAP_MATLAB_DIR ${CMAKE_BINARY_DIR}/matlab)

# What the MATLAB build's sources are compiled with besides MATLAB's headers
# (matlab_add_mex gives the plug-in sources the first two itself; dap_link's
# MATLAB libraries take them from here).
set(DAP_MATLAB_DEFINITIONS MATLAB_MEX_FILE MATLAB_DEFAULT_RELEASE=R2017b)
if(Matlab_FOUND)
  message(STATUS "MATLAB ${Matlab_VERSION_STRING} at ${Matlab_ROOT_DIR}: "
                 "the commands are also built for it, into ${DAP_MATLAB_DIR}")
  # dap_link/mex_gateway.h poisons the host's error and warning functions,
  # so that a command cannot raise an error past its own clean-up. Should
  # MATLAB's mex.h define one of those names as a macro, poisoning it draws
  # "poisoning existing macro", which -Werror makes an error in every source.
  # The MATLAB build then does without the poison: the Octave build compiles
  # the same sources with it, so the check is not lost.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_FLAGS "-Werror -isystem ${Matlab_INCLUDE_DIRS} -I${CMAKE_CURRENT_LIST_DIR}/../dap_link/include")
  set(CMAKE_REQUIRED_DEFINITIONS -DMATLAB_MEX_FILE -DMATLAB_DEFAULT_RELEASE=R2017b)
  set(dap_gateway_probe "#include \"dap_link/mex_gateway.h\"\nint main() { return 0; }\n")
  # Asked again at every configure: another Matlab_ROOT_DIR may answer otherwise.
  unset(DAP_MATLAB_GATEWAY_POISON_OK CACHE)
  unset(DAP_MATLAB_GATEWAY_UNPOISONED_OK CACHE)
  check_cxx_source_compiles("${dap_gateway_probe}" DAP_MATLAB_GATEWAY_POISON_OK)
  if(NOT DAP_MATLAB_GATEWAY_POISON_OK)
    list(APPEND CMAKE_REQUIRED_DEFINITIONS -DDAP_MEX_GATEWAY_RAISES=)
    check_cxx_source_compiles("${dap_gateway_probe}" DAP_MATLAB_GATEWAY_UNPOISONED_OK)
    if(DAP_MATLAB_GATEWAY_UNPOISONED_OK)
      message(STATUS "MATLAB's mex.h defines an error or warning function as a macro: "
                     "the MATLAB build does without the poison on them")
      # Empty, as mex_gateway.cpp defines it, so that its own definition is
      # no redefinition.
      list(APPEND DAP_MATLAB_DEFINITIONS DAP_MEX_GATEWAY_RAISES=)
    endif()
  endif()
  unset(CMAKE_REQUIRED_QUIET)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_DEFINITIONS)
endif()

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

# dap_stamp_build(<target> <host>): the release and the host a plug-in is
# built for (bare words: octave-api-v57, matlab), in the stamp every plug-in
# carries (dap_link/src/build_stamp.c).
function(dap_stamp_build target host)
  target_compile_definitions(${target} PRIVATE DAP_RELEASE=${PROJECT_VERSION} DAP_HOST=${host})
endfunction()

# dap_add_help_file(<source .m> <output dir> <copy target> [<file name>])
#   Copies a help file into <output dir> (as <file name>, by default the
#   source's own), again whenever it changes; the custom target <copy
#   target> (part of "all") does it. A comments-only
#   <name>.m beside <name>.mex gives help and lookfor their text in MATLAB
#   and Octave while the .mex still runs. Every copy is listed in the global
#   property DAP_HELP_FILES, for install rules; a plug-in target's help
#   source is also in its target property DAP_HELP_FILE.
function(dap_add_help_file source output_dir copy_target)
  get_filename_component(file_name ${source} NAME)
  if(ARGC GREATER 3)
    set(file_name ${ARGV3})
  endif()
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

# dap_add_matlab_plugin(<name> <output dir> <link library> <help file> <sources...>)
#   Builds <name> with matlab_add_mex into <output dir>, against MATLAB's
#   headers and with dap_link built for them, and copies its help file (if
#   any) beside it. The target, matlab_<name>, is listed in the global
#   property DAP_MATLAB_PLUGINS, and the build target dap_matlab builds it.
function(dap_add_matlab_plugin name output_dir link_library help_source)
  set(sources ${ARGN})
  set(target matlab_${name})
  matlab_add_mex(NAME ${target} MODULE SRC ${sources} OUTPUT_NAME ${name})
  # matlab_add_mex may add a version source of MATLAB's own (R2016b and
  # later: it defines mexfilerequiredapiversion). Ours defines mexVersion,
  # unless MATLAB's does so already, as the one of an older matlab_add_mex
  # may: the two would be a duplicate definition at link time.
  get_target_property(all_sources ${target} SOURCES)
  list(REMOVE_ITEM all_sources ${sources})
  set(defined_by_matlab "")
  foreach(source ${all_sources})
    if(EXISTS ${source})
      file(STRINGS ${source} defined_by_matlab REGEX "mexVersion[ \t]*\\([^)]*\\)[ \t]*({|$)")
      if(defined_by_matlab)
        break()
      endif()
    endif()
  endforeach()
  if(NOT defined_by_matlab)
    target_sources(${target} PRIVATE ${DAP_MEX_VERSION_SOURCE})
  endif()
  target_sources(${target} PRIVATE ${DAP_BUILD_STAMP_SOURCE})
  dap_stamp_build(${target} matlab)
  # matlab_add_mex puts MATLAB's own export map in LINK_FLAGS; a second
  # anonymous version script cannot be combined with ours, so ours replaces
  # it (matlab_exports.map keeps MATLAB's API-version entry point).
  set_target_properties(${target} PROPERTIES
    LINK_FLAGS "-Wl,--as-needed" LIBRARY_OUTPUT_DIRECTORY ${output_dir})
  # Warnings in MATLAB's headers are not ours to fix under -Werror.
  target_include_directories(${target} SYSTEM PRIVATE ${Matlab_INCLUDE_DIRS})
  target_compile_definitions(${target} PRIVATE ${DAP_MATLAB_DEFINITIONS})
  dap_plugin_link_options(${target} ${DAP_MATLAB_EXPORTS})
  dap_matlab_runtime_options(${target})
  if(link_library)
    target_link_libraries(${target} ${link_library}_matlab)
  endif()
  if(NOT TARGET dap_matlab)
    add_custom_target(dap_matlab)
  endif()
  add_dependencies(dap_matlab ${target})
  if(help_source)
    dap_add_help_file(${help_source} ${output_dir} ${target}_help)
    add_dependencies(${target} ${target}_help)
  endif()
  set_property(GLOBAL APPEND PROPERTY DAP_MATLAB_PLUGINS ${target})
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
  add_library(obj_${name} OBJECT ${P_SOURCES} ${DAP_MEX_VERSION_SOURCE} ${DAP_BUILD_STAMP_SOURCE})
  target_include_directories(obj_${name} SYSTEM PRIVATE ${OCTAVE_INCLUDE_DIR})
  target_link_libraries(obj_${name} PRIVATE ${link_library})
  dap_stamp_build(obj_${name} octave-${OCTAVE_API_VERSION})

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

  # The command plug-ins (those that go to <build>/mex) linked as the MATLAB
  # build links them, for the test host with MATLAB's rules.
  if(P_OUTPUT_DIR STREQUAL "${CMAKE_BINARY_DIR}/mex")
    dap_link_plugin(mexml_${name} ${name} ${DAP_MATLAB_LINK_DIR} DAP_MATLAB_LINK_PLUGINS
                    "${link_library}")
    dap_matlab_runtime_options(mexml_${name})
  endif()

  # For MATLAB: the commands, and the diagnostics off the path beside them.
  if(NOT EXISTS ${help_source})
    set(help_source "")
  endif()
  if(Matlab_FOUND AND P_OUTPUT_DIR STREQUAL "${CMAKE_BINARY_DIR}/mex")
    dap_add_matlab_plugin(${name} ${DAP_MATLAB_DIR} "${link_library}" "${help_source}" ${P_SOURCES})
  elseif(Matlab_FOUND AND P_OUTPUT_DIR STREQUAL "${CMAKE_BINARY_DIR}/diagnostics")
    dap_add_matlab_plugin(${name} ${DAP_MATLAB_DIR}/diagnostics "${link_library}" "${help_source}"
                          ${P_SOURCES})
  endif()
endfunction()
