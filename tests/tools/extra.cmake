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
  add_dependencies(test_tools effect-bench blur-reference holdfast-makedemo)
endif()

# An install of the build tree into a temporary prefix holds every program and runs.
file(GLOB install_check_tools CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*.cpp)
set(install_check_names "")
foreach(src ${install_check_tools})
  get_filename_component(name ${src} NAME_WE)
  list(APPEND install_check_names ${name})
endforeach()
string(REPLACE ";" "," install_check_names "${install_check_names}")
add_test(NAME install_tree
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DPREFIX=${CMAKE_BINARY_DIR}/install-check
          "-DTOOLS=${install_check_names}" -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/install-check.cmake)
