# Run by cpack on the staged files, after its own strip: the programs also lose the compiler's
# version notes (.comment, .note), which nothing at run time reads.
file(GLOB programs ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*)
foreach(program ${programs})
  file(READ ${program} magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # ELF; the launcher is a shell script
    execute_process(COMMAND ${CPACK_OBJCOPY} --remove-section=.comment --remove-section=.note
                            ${program} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy could not strip ${program}")
    endif()
  endif()
endforeach()
