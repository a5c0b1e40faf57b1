# Conformance with the reference RAR decoder (node-unrar-js); tests/archive/setup.sh installs it.
# Skipped (exit 77) only where node itself is missing.
find_program(HOLDFAST_NODE node)
set(archive_conformance_script ${CMAKE_CURRENT_SOURCE_DIR}/archive/conformance.js)
if(HOLDFAST_NODE)
  add_test(NAME archive_conformance
    COMMAND ${HOLDFAST_NODE} ${archive_conformance_script} $<TARGET_FILE:holdfast-pack>)
else()
  add_test(NAME archive_conformance COMMAND sh -c "echo 'node not found: conformance skipped'; exit 77")
endif()
# "slow": the sanitizer pass of CI leaves it out (the unit tests cover the code under ASan there).
set_tests_properties(archive_conformance PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1200 LABELS slow)
