# The whole-program tests of test_demo run build/bin/holdfast-script.
if(TARGET test_demo AND TARGET holdfast-script)
  add_dependencies(test_demo holdfast-script)
endif()
if(TARGET test_demo AND TARGET holdfast-pack)
  add_dependencies(test_demo holdfast-pack)
endif()
