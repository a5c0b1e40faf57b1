# The whole-program tests of test_host run the player on a demo packed by holdfast-pack.
foreach(program holdfast holdfast-pack)
  if(TARGET test_host AND TARGET ${program})
    add_dependencies(test_host ${program})
  endif()
endforeach()
