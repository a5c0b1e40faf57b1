# The tools' whole-program tests run the built programs and make the bundled demo.
if(TARGET test_tools)
  foreach(program holdfast holdfast-capture holdfast-preview holdfast-pack holdfast-script holdfast-makemusic holdfast-makedemo)
    if(TARGET ${program})
      add_dependencies(test_tools ${program})
    endif()
  endforeach()
endif()
# The effect bench's runner renders every bench script in the tools' tests.
if(TARGET test_tools AND TARGET effect-bench)
  add_dependencies(test_tools effect-bench blur-reference shader-reference holdfast-makedemo)
endif()

# The whole bundled demo: rendered second by second, section by section, and played to its end
# by the player. Minutes each, so "slow" (the sanitizer pass of CI leaves them out).
if(TARGET test_tools)
  add_executable(test_whole_demo ${CMAKE_CURRENT_SOURCE_DIR}/tools/whole/WholeDemoTest.cpp)
  target_link_libraries(test_whole_demo PRIVATE holdfast_test_support GTest::gtest_main PkgConfig::PNG)
  target_compile_options(test_whole_demo PRIVATE ${HOLDFAST_TEST_COMPILE_OPTIONS})
  target_compile_definitions(test_whole_demo PRIVATE
    HOLDFAST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    HOLDFAST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(test_whole_demo holdfast holdfast-capture holdfast-pack holdfast-script holdfast-makemusic holdfast-makedemo)
  # COST: about the seconds each takes, so that a parallel run with no timings of its own yet (a
  # fresh CI machine) starts the longest first, the player's five minutes above all, instead of
  # after every quick test.
  foreach(check
      "luminance:WholeDemo.NoStretchOfMoreThanThreeSecondsIsNearlyBlack:20"
      "sections:WholeDemo.EveryEffectOfEverySectionChangesThePicture:90"
      "player:WholeDemo.ThePlayerPlaysItToTheEndUnattended:300")
    string(REPLACE ":" ";" parts "${check}")
    list(GET parts 0 name)
    list(GET parts 1 filter)
    list(GET parts 2 seconds)
    add_test(NAME whole_demo.${name} COMMAND test_whole_demo --gtest_filter=${filter})
    set_tests_properties(whole_demo.${name} PROPERTIES LABELS slow TIMEOUT 900 COST ${seconds}
      ENVIRONMENT "HOLDFAST_UNATTENDED=1;SDL_AUDIODRIVER=dummy")
  endforeach()
  # Six frames around the depth of field: quick enough for every pass.
  add_test(NAME whole_demo.focus COMMAND test_whole_demo --gtest_filter=WholeDemo.TheDepthOfFieldKeepsTheSceneInFocusAndBlursTheRest)
  set_tests_properties(whole_demo.focus PROPERTIES TIMEOUT 300
    ENVIRONMENT "HOLDFAST_UNATTENDED=1;SDL_AUDIODRIVER=dummy")
  # Reads the script's timeline only: quick, so in every pass.
  add_test(NAME whole_demo.windows COMMAND test_whole_demo --gtest_filter=WholeDemo.NoTwoTenSecondWindowsInARowShowTheSameEffects)
  set_tests_properties(whole_demo.windows PROPERTIES TIMEOUT 120
    ENVIRONMENT "HOLDFAST_UNATTENDED=1;SDL_AUDIODRIVER=dummy")
  add_test(NAME whole_demo.coverage COMMAND test_whole_demo --gtest_filter=WholeDemo.TheScriptSendsEverySignalUsesEveryEffectAndEveryConstruct)
  set_tests_properties(whole_demo.coverage PROPERTIES TIMEOUT 120
    ENVIRONMENT "HOLDFAST_UNATTENDED=1;SDL_AUDIODRIVER=dummy")
endif()

# An install of the build tree into a temporary prefix holds every program and runs.
string(REPLACE ";" "," install_check_names "${HOLDFAST_TOOLS}")
add_test(NAME install_tree
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DPREFIX=${CMAKE_BINARY_DIR}/install-check
          "-DTOOLS=${install_check_names}" -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/install-check.cmake)

# The Rocket client's protocol, tracks and saving are tested as units too.
if(TARGET test_tools)
  target_link_libraries(test_tools PRIVATE holdfast_rocket)
endif()
