# Run by "cmake --install": the simulator's installed help names its manual
# where it was installed, not by the source tree's path sim/README.md.
# dap_help_dir and dap_manual (relative to the prefix) are set before.
file(GLOB help "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dap_help_dir}/*.m")
foreach(file ${help})
  file(READ "${file}" text)
  string(REPLACE "sim/README.md" "${CMAKE_INSTALL_PREFIX}/${dap_manual}" text "${text}")
  file(WRITE "${file}" "${text}")
endforeach()
