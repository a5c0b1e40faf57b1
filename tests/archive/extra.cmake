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
# COST: its seconds, so a fresh parallel run starts it early.
set_tests_properties(archive_conformance PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1200 LABELS slow COST 70)

# Generated RAR 2.0 streams using every construct the format allows (our encoder emits only a
# few of them): decoded by our reader in test_archive, and by the reference and holdfast-pack in
# archive_differential.
# The generator is built once, for both.
set(archive_streamgen_dir ${CMAKE_CURRENT_SOURCE_DIR}/archive/streamgen)
add_library(holdfast_rar20_streamgen STATIC ${archive_streamgen_dir}/Rar20StreamGen.cpp)
target_include_directories(holdfast_rar20_streamgen PUBLIC ${archive_streamgen_dir})
target_link_libraries(holdfast_rar20_streamgen PUBLIC holdfast_engine)
target_compile_options(holdfast_rar20_streamgen PRIVATE ${HOLDFAST_TEST_COMPILE_OPTIONS})
add_executable(rar20-streamgen ${archive_streamgen_dir}/rar20-streamgen.cpp)
target_link_libraries(rar20-streamgen PRIVATE holdfast_rar20_streamgen)
if(TARGET test_archive)
  target_link_libraries(test_archive PRIVATE holdfast_rar20_streamgen)
endif()
if(HOLDFAST_NODE)
  add_test(NAME archive_differential
    COMMAND ${HOLDFAST_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/archive/differential.js
            $<TARGET_FILE:holdfast-pack> $<TARGET_FILE:rar20-streamgen>)
else()
  add_test(NAME archive_differential COMMAND sh -c "echo 'node not found: differential test skipped'; exit 77")
endif()
set_tests_properties(archive_differential PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS slow COST 20)
