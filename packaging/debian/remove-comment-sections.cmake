# Run by CPack on the staged files before it packs them. CPack's strip keeps the .comment section
# (the compiler's name and version), which Debian's own tools remove from every program; so does
# this, for whatever programs the package holds.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND "${CPACK_TRIDENT_OBJCOPY}" --remove-section=.comment "${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
