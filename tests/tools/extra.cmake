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
