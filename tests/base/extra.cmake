# The include order of the rooms under src/, and the tools' folders (see the README's layout table).
add_test(NAME Layering.LowerRoomsNeverIncludeHigherOnes
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DCHECK=rooms -P ${CMAKE_CURRENT_SOURCE_DIR}/base/layering.cmake)
add_test(NAME Layering.ToolsIncludeOnlyTheirOwnFolderAndCommon
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DCHECK=tools -P ${CMAKE_CURRENT_SOURCE_DIR}/base/layering.cmake)
