# Puts the Octave package together: cmake -DNAME=dap-<version> -DWORK=<folder>
# -DOUTPUT=<tarball> -DSOURCE_DIR=<source tree> -P make_package.cmake
# WORK holds DESCRIPTION, INDEX, sources.mk, src.txt (the files for src/,
# relative to the source tree, one a line), help.txt (the plug-ins' help, for
# src/help/) and inst.txt (the files for inst/).
set(stage ${WORK}/stage)
set(top ${stage}/${NAME})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${top}/inst ${top}/src ${top}/doc)
file(COPY ${WORK}/DESCRIPTION ${WORK}/INDEX ${SOURCE_DIR}/NEWS ${SOURCE_DIR}/package/pre_install.m
     DESTINATION ${top})
configure_file(${SOURCE_DIR}/LICENSE ${top}/COPYING COPYONLY)

file(STRINGS ${WORK}/src.txt sources)
foreach(source ${sources})
  get_filename_component(folder ${top}/src/${source} DIRECTORY)
  file(COPY ${SOURCE_DIR}/${source} DESTINATION ${folder})
endforeach()
file(COPY ${SOURCE_DIR}/package/Makefile ${WORK}/sources.mk ${SOURCE_DIR}/scripts/octave-sim
     DESTINATION ${top}/src)

file(STRINGS ${WORK}/help.txt files)
file(COPY ${files} DESTINATION ${top}/src/help)
file(STRINGS ${WORK}/inst.txt files)
file(COPY ${files} DESTINATION ${top}/inst)
file(GLOB dapl ${SOURCE_DIR}/dapl/*.dap)
file(COPY ${dapl} DESTINATION ${top}/inst/dapl)
# The examples, with the session replay_sweep plays, as the install has them.
file(GLOB examples ${SOURCE_DIR}/examples/*.m ${SOURCE_DIR}/examples/*.ses)
file(COPY ${examples} DESTINATION ${top}/inst/examples)

# pkg installs doc/ into the package's folder, which "pkg list dap" shows;
# the simulator's help names its manual there rather than in a source tree.
configure_file(${SOURCE_DIR}/README.md ${top}/doc/README.md COPYONLY)
configure_file(${SOURCE_DIR}/sim/README.md ${top}/doc/sim-README.md COPYONLY)
file(GLOB help ${top}/src/help/dapsim*.m ${top}/inst/dapsim*.m)
foreach(file ${help})
  file(READ ${file} text)
  string(REPLACE "sim/README.md" "fullfile(pkg('list', 'dap'){1}.dir, 'doc', 'sim-README.md')" text
                 "${text}")
  file(WRITE ${file} "${text}")
endforeach()

file(REMOVE ${OUTPUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} ${NAME}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT}")
endif()
