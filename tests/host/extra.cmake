# The whole-program tests of test_host run the player on a demo packed by holdfast-pack, and the
# capture tool, the preview and the script checker on it and on the bundled demo.
foreach(program holdfast holdfast-pack holdfast-capture holdfast-preview holdfast-script holdfast-makemusic holdfast-makedemo)
  if(TARGET test_host AND TARGET ${program})
    add_dependencies(test_host ${program})
  endif()
endforeach()

# The whole bundled demo captured with and without a display server: minutes, so "slow".
if(TARGET test_host)
  add_executable(test_host_whole ${CMAKE_CURRENT_SOURCE_DIR}/host/whole/NoDisplayWholeDemoTest.cpp)
  target_link_libraries(test_host_whole PRIVATE holdfast_test_support GTest::gtest_main)
  target_include_directories(test_host_whole PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/host)
  target_compile_definitions(test_host_whole PRIVATE
    HOLDFAST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    HOLDFAST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(test_host_whole holdfast-capture holdfast-pack holdfast-makemusic holdfast-makedemo)
  add_test(NAME whole_demo.no_display COMMAND test_host_whole)
  set_tests_properties(whole_demo.no_display PROPERTIES LABELS slow TIMEOUT 1500 COST 40
    ENVIRONMENT "HOLDFAST_UNATTENDED=1;SDL_AUDIODRIVER=dummy;DBUS_SESSION_BUS_ADDRESS=disabled:")
endif()
