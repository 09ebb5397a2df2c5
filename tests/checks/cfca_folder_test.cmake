# A folder with the five file names but other bytes must stop the
# configuration, naming the file; an empty setting must not.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
foreach(name Root_CA Policy_CA Operation_CA Operation_CA1 Operation_CA2)
    file(WRITE "${WORK_DIR}/${name}.cer" "not ${name}")
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -DWAYFARER_CFCA_DIR=${WORK_DIR} -P ${CFCA_SCRIPT}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
if(result EQUAL 0 OR NOT errors MATCHES "Root_CA.cer has SHA-1")
    message(FATAL_ERROR "other certificates were accepted (${result}): ${errors}")
endif()

file(REMOVE "${WORK_DIR}/Root_CA.cer")
execute_process(COMMAND ${CMAKE_COMMAND} -DWAYFARER_CFCA_DIR=${WORK_DIR} -P ${CFCA_SCRIPT}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
if(result EQUAL 0 OR NOT errors MATCHES "missing")
    message(FATAL_ERROR "a folder with a missing certificate was accepted")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DWAYFARER_CFCA_DIR= -P ${CFCA_SCRIPT}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "a build without certificates was refused: ${errors}")
endif()
