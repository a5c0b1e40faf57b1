# The tools' whole-program tests run the built programs and make the bundled demo.
if(TARGET test_tools)
  foreach(program holdfast holdfast-capture holdfast-preview holdfast-pack holdfast-script holdfast-makemusic holdfast-makedemo)
    if(TARGET ${program})
      add_dependencies(test_tools ${program})
    endif()
  endforeach()
endif()
