# Run by CPack on the staged files before packing: strips the programs as
# Debian does, without the symbols and the compiler's notes that only a
# debugger wants.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_TWINMERE_STRIP}" --strip-unneeded --remove-section=.comment
            --remove-section=.note "${program}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
