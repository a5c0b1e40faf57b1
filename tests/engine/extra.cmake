# The whole-program tests of test_engine run build/bin/holdfast-scene and pack archives.
foreach(program holdfast-scene holdfast-pack)
  if(TARGET test_engine AND TARGET ${program})
    add_dependencies(test_engine ${program})
  endif()
endforeach()
