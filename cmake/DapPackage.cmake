# The Octave package, dap-<version>.tar.gz in the build folder: the sources
# of dap_link, of every command and of the simulated board, which
# "pkg install" compiles against the Octave that installs it
# (package/Makefile), with the help, the sample DAPL files, the examples and
# the manuals.
# No binaries: it builds on the lab's architecture and Octave version. The
# file lists are the ones this build compiles, so a new command or source
# cannot be left out; every build writes the package, so it never lags.
# Included after DapInstall, whose lists of plug-ins and help it takes.
set(DAP_PACKAGE_NAME dap-${PROJECT_VERSION})
set(DAP_PACKAGE ${CMAKE_BINARY_DIR}/${DAP_PACKAGE_NAME}.tar.gz)
set(DAP_PACKAGE_WORK ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/package/DESCRIPTION.in ${DAP_PACKAGE_WORK}/DESCRIPTION @ONLY)

# Writes <file> only when <text> differs from what it holds, so that what
# depends on it is not redone at every configure.
function(dap_write_if_changed file text)
  file(WRITE ${file}.new "${text}")
  configure_file(${file}.new ${file} COPYONLY)
endfunction()

# The INDEX groups the commands by family, after their source folders.
set(DAP_INDEX "dap >> DAP experiment commands\n")
foreach(family "board:Board control" "sweep:Short-record sessions"
               "acquisition:Triggered acquisition" "stimulus:Stimulus output"
               "response:Stimulus-response runs")
  string(REPLACE ":" ";" family "${family}")
  list(GET family 1 category)
  list(GET family 0 family)
  string(APPEND DAP_INDEX "${category}\n")
  foreach(plugin ${DAP_COMMAND_PLUGINS})
    get_target_property(source_dir ${plugin} SOURCE_DIR)
    if(source_dir STREQUAL "${CMAKE_SOURCE_DIR}/commands/${family}")
      get_target_property(name ${plugin} OUTPUT_NAME)
      string(APPEND DAP_INDEX " ${name}\n")
    endif()
  endforeach()
endforeach()
string(APPEND DAP_INDEX "Version\n dap_version\n")
string(APPEND DAP_INDEX "Rig check\n dap_doctor\n dap_doctor_probe\n")
string(APPEND DAP_INDEX "Rehearsal on the simulated board\n dap_rehearse\n dapsim\n")
foreach(help ${DAP_SIM_HELP})
  get_filename_component(name ${help} NAME_WE)
  if(NOT name STREQUAL "dapsim")
    string(APPEND DAP_INDEX " ${name}\n")
  endif()
endforeach()
dap_write_if_changed(${DAP_PACKAGE_WORK}/INDEX "${DAP_INDEX}")

# dap_package_files(<out> <targets...>): the sources of the targets and the
# headers beside them or in their include folders, relative to the source
# tree (files outside it, such as Octave's headers, are not ours to ship).
function(dap_package_files out)
  set(files "")
  foreach(target ${ARGN})
    get_target_property(type ${target} TYPE)
    get_target_property(dir ${target} SOURCE_DIR)
    set(folders "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(sources ${target} SOURCES)
      foreach(source ${sources})
        get_filename_component(source ${source} ABSOLUTE BASE_DIR ${dir})
        list(APPEND files ${source})
        get_filename_component(folder ${source} DIRECTORY)
        list(APPEND folders ${folder})
      endforeach()
      get_target_property(includes ${target} INCLUDE_DIRECTORIES)
      if(includes)
        list(APPEND folders ${includes})
      endif()
    endif()
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(includes)
      list(APPEND folders ${includes})
    endif()
    foreach(folder ${folders})
      file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${folder}/*.h)
      list(APPEND files ${headers})
    endforeach()
  endforeach()
  set(relative "")
  foreach(file ${files})
    file(RELATIVE_PATH path ${CMAKE_SOURCE_DIR} ${file})
    if(NOT path MATCHES "^\\.\\./")
      list(APPEND relative ${path})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES relative)
  list(SORT relative)
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

# dap_package_include_dirs(<out> <targets...>): the include folders of the
# targets and of the targets they link, in the source tree, relative to it.
function(dap_package_include_dirs out)
  set(folders "")
  foreach(target ${ARGN})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
      get_target_property(linked ${target} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(includes ${target} INCLUDE_DIRECTORIES)
      get_target_property(linked ${target} LINK_LIBRARIES)
    endif()
    if(NOT includes)
      set(includes "")
    endif()
    foreach(library ${linked})
      if(TARGET ${library})
        get_target_property(more ${library} INTERFACE_INCLUDE_DIRECTORIES)
        if(more)
          list(APPEND includes ${more})
        endif()
      endif()
    endforeach()
    foreach(folder ${includes})
      file(RELATIVE_PATH path ${CMAKE_SOURCE_DIR} ${folder})
      if(NOT path MATCHES "^\\.\\./")
        list(APPEND folders ${path})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# dap_package_linked(<out> <targets...>): the targets and the targets of this
# build they link, however deep, so that a library split off later comes
# along by itself. Imported targets (a system zlib) are the lab's own.
function(dap_package_linked out)
  set(result ${ARGN})
  set(queue ${ARGN})
  while(queue)
    list(POP_FRONT queue target)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(linked ${target} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(linked ${target} LINK_LIBRARIES)
    endif()
    foreach(library ${linked})
      if(TARGET ${library} AND NOT library IN_LIST result)
        get_target_property(imported ${library} IMPORTED)
        if(NOT imported)
          list(APPEND result ${library})
          list(APPEND queue ${library})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(dap_make_variable out name)
  list(JOIN ARGN " " value)
  set(${out} "${${out}}${name} := ${value}\n" PARENT_SCOPE)
endfunction()

# sources.mk: what package/Makefile compiles, as this build compiles it.
set(DAP_SOURCES_MK "# Written by the DAP suite's CMake build from its target lists.\n")
dap_make_variable(DAP_SOURCES_MK DAP_VERSION ${PROJECT_VERSION})
dap_package_files(channel_sources dap_channel)
list(FILTER channel_sources INCLUDE REGEX "\\.(c|cpp)$")
dap_package_files(guard_sources dap_link)
list(FILTER guard_sources INCLUDE REGEX "\\.(c|cpp)$")
dap_package_include_dirs(includes dap_channel)
dap_make_variable(DAP_SOURCES_MK DAP_CHANNEL_SOURCES ${channel_sources})
dap_make_variable(DAP_SOURCES_MK DAP_GUARD_SOURCES ${guard_sources})
dap_make_variable(DAP_SOURCES_MK DAP_INCLUDE_DIRS ${includes})
file(RELATIVE_PATH exports ${CMAKE_SOURCE_DIR} ${DAP_MEX_EXPORTS})
dap_make_variable(DAP_SOURCES_MK DAP_MEX_EXPORTS ${exports})
set(DAP_PACKAGE_TARGETS dap_channel dap_link dapsim dapsim_libc dapsession_format dapsim-loader)
set(commands "")
set(DAP_PACKAGE_HELP "")
foreach(plugin ${DAP_COMMAND_PLUGINS} mex_dapsim)
  get_target_property(name ${plugin} OUTPUT_NAME)
  get_target_property(help ${plugin} DAP_HELP_FILE)
  if(help)
    list(APPEND DAP_PACKAGE_HELP ${help})
  endif()
  dap_package_files(sources obj_${name})
  list(FILTER sources INCLUDE REGEX "\\.(c|cpp)$")
  get_target_property(linked obj_${name} LINK_LIBRARIES)
  if(linked STREQUAL "dap_link")
    set(link guard)
  elseif(linked STREQUAL "dap_channel")
    set(link channel)
  else()
    set(link none)
  endif()
  dap_make_variable(DAP_SOURCES_MK ${name}_SOURCES ${sources})
  dap_make_variable(DAP_SOURCES_MK ${name}_LINK ${link})
  list(APPEND DAP_PACKAGE_TARGETS obj_${name})
  if(NOT plugin STREQUAL "mex_dapsim")
    list(APPEND commands ${name})
  endif()
endforeach()
dap_make_variable(DAP_SOURCES_MK DAP_COMMANDS ${commands})
dap_make_variable(DAP_SOURCES_MK DAP_SIM_PLUGINS dapsim)
dap_package_linked(sim_targets dapsim)
dap_package_files(sim_sources ${sim_targets})
list(FILTER sim_sources INCLUDE REGEX "\\.cpp$")
dap_package_include_dirs(includes ${sim_targets})
dap_make_variable(DAP_SOURCES_MK DAPSIM_SOURCES ${sim_sources})
dap_make_variable(DAP_SOURCES_MK DAPSIM_INCLUDE_DIRS ${includes})
get_target_property(exports dapsim LINK_DEPENDS)
file(RELATIVE_PATH exports ${CMAKE_SOURCE_DIR} ${exports})
dap_make_variable(DAP_SOURCES_MK DAPSIM_EXPORTS ${exports})
dap_package_files(loader_sources dapsim-loader)
list(FILTER loader_sources INCLUDE REGEX "\\.cpp$")
dap_make_variable(DAP_SOURCES_MK DAPSIM_LOADER_SOURCES ${loader_sources})
# dapsession, which octave-sim runs to check a session before it replays it.
dap_package_linked(tool_targets dapsession)
dap_package_files(tool_sources ${tool_targets})
list(FILTER tool_sources INCLUDE REGEX "\\.(c|cpp)$")
dap_package_include_dirs(includes ${tool_targets})
dap_make_variable(DAP_SOURCES_MK DAPSESSION_SOURCES ${tool_sources})
dap_make_variable(DAP_SOURCES_MK DAPSESSION_INCLUDE_DIRS ${includes})
list(APPEND DAP_PACKAGE_TARGETS ${sim_targets} ${tool_targets})
dap_write_if_changed(${DAP_PACKAGE_WORK}/sources.mk "${DAP_SOURCES_MK}")

# Everything the package's src/ holds from the source tree.
dap_package_files(DAP_PACKAGE_SOURCES ${DAP_PACKAGE_TARGETS})
file(RELATIVE_PATH exports ${CMAKE_SOURCE_DIR} ${DAP_MEX_EXPORTS})
list(APPEND DAP_PACKAGE_SOURCES ${exports})
get_target_property(exports dapsim LINK_DEPENDS)
file(RELATIVE_PATH exports ${CMAKE_SOURCE_DIR} ${exports})
list(APPEND DAP_PACKAGE_SOURCES ${exports})
list(JOIN DAP_PACKAGE_SOURCES "\n" text)
dap_write_if_changed(${DAP_PACKAGE_WORK}/src.txt "${text}\n")

# Octave finds a plug-in's help only in a .m file beside it: the plug-ins'
# help goes to src/help/, which the Makefile copies to where pkg puts the
# plug-ins. The rest goes to inst/: the contents, the version function, the rig check,
# the simulator's helpers, the rehearsal command, the sample DAPL files.
list(JOIN DAP_PACKAGE_HELP "\n" text)
dap_write_if_changed(${DAP_PACKAGE_WORK}/help.txt "${text}\n")
file(GLOB DAP_PACKAGE_DATA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/dapl/*.dap
     ${CMAKE_SOURCE_DIR}/examples/*.m ${CMAKE_SOURCE_DIR}/examples/*.ses)
set(DAP_PACKAGE_INST ${CMAKE_BINARY_DIR}/mex/Contents.m ${CMAKE_BINARY_DIR}/mex/dap.m
    ${DAP_VERSION_FUNCTION} ${DAP_DOCTOR_FUNCTION} ${DAP_SIM_HELP} ${CMAKE_SOURCE_DIR}/package/dap_rehearse.m)
list(REMOVE_ITEM DAP_PACKAGE_INST ${DAP_PACKAGE_HELP})
list(JOIN DAP_PACKAGE_INST "\n" text)
dap_write_if_changed(${DAP_PACKAGE_WORK}/inst.txt "${text}\n")

list(TRANSFORM DAP_PACKAGE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE source_files)
add_custom_command(OUTPUT ${DAP_PACKAGE}
  COMMAND ${CMAKE_COMMAND}
          -DNAME=${DAP_PACKAGE_NAME} -DWORK=${DAP_PACKAGE_WORK} -DOUTPUT=${DAP_PACKAGE}
          -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -P ${CMAKE_SOURCE_DIR}/package/make_package.cmake
  DEPENDS ${source_files} ${DAP_PACKAGE_HELP} ${DAP_PACKAGE_INST} ${DAP_PACKAGE_DATA}
          ${DAP_PACKAGE_WORK}/DESCRIPTION ${DAP_PACKAGE_WORK}/INDEX ${DAP_PACKAGE_WORK}/sources.mk
          ${DAP_PACKAGE_WORK}/src.txt ${DAP_PACKAGE_WORK}/help.txt ${DAP_PACKAGE_WORK}/inst.txt
          ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/NEWS ${CMAKE_SOURCE_DIR}/README.md
          ${CMAKE_SOURCE_DIR}/sim/README.md ${CMAKE_SOURCE_DIR}/package/Makefile
          ${CMAKE_SOURCE_DIR}/scripts/octave-sim ${CMAKE_SOURCE_DIR}/package/make_package.cmake
          ${CMAKE_SOURCE_DIR}/package/pre_install.m
  COMMENT "Octave package ${DAP_PACKAGE_NAME}.tar.gz"
  VERBATIM)
add_custom_target(octave-package ALL DEPENDS ${DAP_PACKAGE})
