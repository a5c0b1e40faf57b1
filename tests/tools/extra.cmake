# The tools' whole-program tests run the built programs and make the bundled demo.
if(TARGET test_tools)
  foreach(program holdfast holdfast-capture holdfast-pack holdfast-script holdfast-makemusic holdfast-makedemo)
    if(TARGET ${program})
      add_dependencies(test_tools ${program})
    endif()
  endforeach()
endif()
# The effect bench's runner renders every bench script in the tools' tests.
if(TARGET test_tools AND TARGET effect-bench)
  add_dependencies(test_tools effect-bench blur-reference holdfast-makedemo)
endif()
