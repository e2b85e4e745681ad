# Run by cpack once the folder is laid out for packing: signs the programs in
# it, so that the zip and the setup program carry the same signed files.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
if(NOT programs)
  message(FATAL_ERROR "no program to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(program ${programs})
  execute_process(COMMAND "${ZELMORA_SIGN_SCRIPT}" "${program}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "signing ${program} failed")
  endif()
endforeach()
