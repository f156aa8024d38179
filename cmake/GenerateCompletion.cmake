# Writes one completion script by running the built kiv (cmake -P with KIV,
# SHELL_NAME and OUT set). kiv is run as the build runs it: as root on build
# machines, with the stand-in editor from the build tree for bundle detection.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=KIV_ASKPASS_SOCKET --unset=FLATPAK_ID KIV_ALLOW_ROOT=true
          ${KIV} --completions ${SHELL_NAME}
  OUTPUT_FILE ${OUT}.tmp
  ERROR_VARIABLE err
  RESULT_VARIABLE status
  TIMEOUT 60)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "kiv --completions ${SHELL_NAME} failed (${status}): ${err}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
