# The last step of a package build, run as cmake -P with SEAL_TOOL, PACKAGE, TYPE, NAME and
# PAYLOAD set: checks that the resource TYPE/NAME of PACKAGE holds exactly the bytes of
# PAYLOAD, then seals PACKAGE. On any failure PACKAGE is removed, so that no later build takes
# an unchecked or unsealed file as done.
execute_process(COMMAND ${SEAL_TOOL} resource ${PACKAGE} ${TYPE} ${NAME} ${PAYLOAD}
                RESULT_VARIABLE checked)
if(checked EQUAL 0)
  execute_process(COMMAND ${SEAL_TOOL} seal ${PACKAGE} RESULT_VARIABLE sealed)
endif()
if(NOT checked EQUAL 0 OR NOT sealed EQUAL 0)
  file(REMOVE ${PACKAGE})
  message(FATAL_ERROR "${PACKAGE} was removed: "
                      "it does not carry its payload exactly or could not be sealed")
endif()
