# Puts the Octave package together: cmake -DNAME=dap-<version> -DWORK=<folder>
# -DOUTPUT=<tarball> -DCOPYING=<licence> -DNEWS=<news> -DHELP_DIR=<build>/mex
# -P make_package.cmake
# WORK holds DESCRIPTION, INDEX and inst.txt (the files for inst/, one a line);
# help files in HELP_DIR, beside the plug-ins, go to inst/ as well.
set(stage ${WORK}/stage)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/${NAME}/inst)
file(COPY ${WORK}/DESCRIPTION ${WORK}/INDEX ${NEWS} DESTINATION ${stage}/${NAME})
configure_file(${COPYING} ${stage}/${NAME}/COPYING COPYONLY)
file(STRINGS ${WORK}/inst.txt files)
file(GLOB help ${HELP_DIR}/*.m)
file(COPY ${files} ${help} DESTINATION ${stage}/${NAME}/inst)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUTPUT} ${NAME}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT}")
endif()
