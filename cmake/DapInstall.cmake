# Installation and the Octave package.
#
# Installed layout under the prefix P (the README documents it):
#   P/lib/dap/mex/           the commands, their help, Contents.m, dap.m,
#                            dap_version.m and the rig check dap_doctor.m: the
#                            one folder an Octave user adds to the path
#   P/lib/dap/matlab/        the same for MATLAB (built only when CMake finds
#                            MATLAB), and in its diagnostics/ the diagnostics
#   P/lib/dap/diagnostics/   diagnostic plug-ins and programs, off every default
#                            path ("test" would shadow Octave's and the shell's)
#   P/lib/dap/sim/           the simulated board: libdapsim.so, what it runs
#                            beside itself, its control command dapsim and helpers;
#                            the session recorder libdaprec.so
#   P/share/dap/dapl/        sample DAPL files (the simulated board's DAPL directory)
#   P/share/dap/examples/    experiment scripts that run on the simulated board
#   P/share/doc/dap/         README.md, NEWS, LICENSE, and sim-README.md: the
#                            simulated board's manual (sim/README.md), which
#                            the installed "help dapsim" names
#   P/bin/octave-sim         octave-cli on the simulated board
#   P/bin/dapsession         session files as text, and cut down
# scripts/octave-sim finds everything relative to itself, so the tree can be
# installed under any prefix and moved as a whole.

set(DAP_INSTALL_MEXDIR lib/dap/mex)
set(DAP_INSTALL_MATLABDIR lib/dap/matlab)
set(DAP_INSTALL_DIAGNOSTICSDIR lib/dap/diagnostics)
set(DAP_INSTALL_SIMDIR lib/dap/sim)
set(DAP_INSTALL_DAPLDIR share/dap/dapl)
set(DAP_INSTALL_EXAMPLESDIR share/dap/examples)
set(DAP_INSTALL_DOCDIR share/doc/dap)

# The version a script can ask for, next to the commands in the build tree
# as in every installed form.
set(DAP_VERSION_FUNCTION ${CMAKE_BINARY_DIR}/mex/dap_version.m)
configure_file(${CMAKE_CURRENT_LIST_DIR}/dap_version.m.in ${DAP_VERSION_FUNCTION} @ONLY)
if(Matlab_FOUND)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/dap_version.m.in ${DAP_MATLAB_DIR}/dap_version.m @ONLY)
endif()

# Help files live beside the sources they describe. Globbed at configure time
# (and again whenever one is added), so a command's help is installed as soon
# as it exists.
file(GLOB DAP_COMMAND_HELP CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/commands/*/*.m)
file(GLOB DAP_DIAGNOSTICS_HELP CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/diagnostics/*.m)
file(GLOB DAP_SIM_HELP CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/sim/control/*.m
  ${CMAKE_SOURCE_DIR}/sim/octave/*.m)

# Help put into the build folders beside the plug-ins (generated there, or
# copied after configuring) goes along too.
install(DIRECTORY ${CMAKE_BINARY_DIR}/mex/ DESTINATION ${DAP_INSTALL_MEXDIR}
        FILES_MATCHING PATTERN "*.m")
install(DIRECTORY ${CMAKE_BINARY_DIR}/diagnostics/ DESTINATION ${DAP_INSTALL_DIAGNOSTICSDIR}
        FILES_MATCHING PATTERN "*.m")
install(DIRECTORY ${CMAKE_BINARY_DIR}/simctl/ DESTINATION ${DAP_INSTALL_SIMDIR}
        FILES_MATCHING PATTERN "*.m")

# Every plug-in goes where its build folder says it belongs.
get_property(DAP_INSTALL_PLUGINS GLOBAL PROPERTY DAP_PLUGINS)
set(DAP_COMMAND_PLUGINS "")
foreach(plugin ${DAP_INSTALL_PLUGINS})
  get_target_property(dir ${plugin} LIBRARY_OUTPUT_DIRECTORY)
  if(dir STREQUAL "${CMAKE_BINARY_DIR}/mex")
    set(destination ${DAP_INSTALL_MEXDIR})
    list(APPEND DAP_COMMAND_PLUGINS ${plugin})
  elseif(dir STREQUAL "${CMAKE_BINARY_DIR}/diagnostics")
    set(destination ${DAP_INSTALL_DIAGNOSTICSDIR})
  elseif(dir STREQUAL "${CMAKE_BINARY_DIR}/simctl")
    set(destination ${DAP_INSTALL_SIMDIR})
  else()
    message(FATAL_ERROR "plug-in ${plugin} is built into ${dir}, which has no installed place")
  endif()
  install(TARGETS ${plugin} LIBRARY DESTINATION ${destination})
endforeach()

install(FILES ${DAP_COMMAND_HELP} ${DAP_VERSION_FUNCTION} DESTINATION ${DAP_INSTALL_MEXDIR})

# The rig check, beside the commands it checks: it names every command of
# this release, as this build makes them.
set(names "")
foreach(plugin ${DAP_COMMAND_PLUGINS})
  get_target_property(name ${plugin} OUTPUT_NAME)
  list(APPEND names "'${name}'")
endforeach()
list(JOIN names ", ...\n           " DAP_DOCTOR_COMMANDS)
set(DAP_DOCTOR_FUNCTION ${CMAKE_BINARY_DIR}/mex/dap_doctor.m)
configure_file(${CMAKE_SOURCE_DIR}/diagnostics/doctor/dap_doctor.m.in ${DAP_DOCTOR_FUNCTION} @ONLY)
if(Matlab_FOUND)
  configure_file(${CMAKE_SOURCE_DIR}/diagnostics/doctor/dap_doctor.m.in
                 ${DAP_MATLAB_DIR}/dap_doctor.m @ONLY)
endif()

# The MATLAB folder as built: the commands with everything beside them, and
# the diagnostics in its diagnostics/. Its own component, so that it can be
# installed alone (cmake --install build --component matlab).
if(Matlab_FOUND)
  get_property(DAP_INSTALL_MATLAB_PLUGINS GLOBAL PROPERTY DAP_MATLAB_PLUGINS)
  foreach(plugin ${DAP_INSTALL_MATLAB_PLUGINS})
    get_target_property(dir ${plugin} LIBRARY_OUTPUT_DIRECTORY)
    file(RELATIVE_PATH subfolder ${DAP_MATLAB_DIR} ${dir})
    install(TARGETS ${plugin} LIBRARY DESTINATION ${DAP_INSTALL_MATLABDIR}/${subfolder}
            COMPONENT matlab)
  endforeach()
  install(DIRECTORY ${DAP_MATLAB_DIR}/ DESTINATION ${DAP_INSTALL_MATLABDIR} COMPONENT matlab
          FILES_MATCHING PATTERN "*.m")
endif()

install(FILES ${DAP_DIAGNOSTICS_HELP} DESTINATION ${DAP_INSTALL_DIAGNOSTICSDIR})
install(TARGETS diag_holdtimer RUNTIME DESTINATION ${DAP_INSTALL_DIAGNOSTICSDIR})
install(PROGRAMS ${CMAKE_BINARY_DIR}/diagnostics/test DESTINATION ${DAP_INSTALL_DIAGNOSTICSDIR})

if(TARGET dapsim)
  install(TARGETS dapsim LIBRARY DESTINATION ${DAP_INSTALL_SIMDIR})
  # The simulator runs its loader stand-in from its own folder.
  foreach(loader dapsim-loader dapsim_loader)
    if(TARGET ${loader})
      install(TARGETS ${loader} RUNTIME DESTINATION ${DAP_INSTALL_SIMDIR})
    endif()
  endforeach()
  install(FILES ${DAP_SIM_HELP} DESTINATION ${DAP_INSTALL_SIMDIR})
  # The simulator's help names its manual by the source tree's path; an
  # installed copy names the installed manual, wherever the prefix is.
  install(FILES ${CMAKE_SOURCE_DIR}/sim/README.md DESTINATION ${DAP_INSTALL_DOCDIR}
          RENAME sim-README.md)
  install(CODE "set(dap_help_dir \"${DAP_INSTALL_SIMDIR}\")
    set(dap_manual \"${DAP_INSTALL_DOCDIR}/sim-README.md\")")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstalledManual.cmake)
  # The session recorder for the rig, and the tool that reads its files.
  install(TARGETS daprec LIBRARY DESTINATION ${DAP_INSTALL_SIMDIR})
  install(TARGETS dapsession RUNTIME DESTINATION bin)
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/octave-sim DESTINATION bin)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/dapl/ DESTINATION ${DAP_INSTALL_DAPLDIR}
        FILES_MATCHING PATTERN "*.dap")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${DAP_INSTALL_EXAMPLESDIR}
        FILES_MATCHING PATTERN "*.m" PATTERN "*.ses")
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/NEWS ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${DAP_INSTALL_DOCDIR})
