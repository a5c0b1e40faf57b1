# Installs the build tree into a fresh prefix and checks what a user gets there: the player and
# every tool in bin/, the demo maker's script, the content it packs, the documentation, and an
# installed tool that runs.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DTOOLS=a,b -P install-check.cmake
string(REPLACE "," ";" TOOLS "${TOOLS}")
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed (${result}):\n${output}")
endif()
foreach(program holdfast holdfast-make-demo ${TOOLS})
  if(NOT EXISTS ${PREFIX}/bin/${program} OR IS_DIRECTORY ${PREFIX}/bin/${program})
    message(FATAL_ERROR "bin/${program} is not installed")
  endif()
endforeach()
foreach(file share/doc/holdfast/README.md share/doc/holdfast/LICENSE share/doc/holdfast/script.md
             share/doc/holdfast/demo-sheet.png share/holdfast/content/data/scripts/demo.scr)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "${file} is not installed")
  endif()
endforeach()
# Every installed tool, the demo maker's script included, answers --help with its usage and
# --version with its name and version, on stdout with exit code 0.
foreach(program holdfast-make-demo ${TOOLS})
  execute_process(COMMAND ${PREFIX}/bin/${program} --version
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output MATCHES "^${program} [0-9]+\\.[0-9]+\\.[0-9]+\n$")
    message(FATAL_ERROR "installed ${program} --version: exit ${result}, output '${output}' '${errors}'")
  endif()
  execute_process(COMMAND ${PREFIX}/bin/${program} --help
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output MATCHES "^usage: ${program} ")
    message(FATAL_ERROR "installed ${program} --help: exit ${result}, output '${output}' '${errors}'")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "install into ${PREFIX}: complete")
