# The include order of the rooms under src/ (see the README's layout table).
add_test(NAME Layering.LowerRoomsNeverIncludeHigherOnes
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/base/layering.cmake)
