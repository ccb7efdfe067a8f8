# Runs the build's layer check (cmake/checklayers.cmake) on small trees written here:
# a clean one passes; an include that reaches up, a control named by a literal and a
# map cell named by a literal each stop it with their file named, and the tables of
# controls and comments may spell names.
#   cmake -DSOURCE_DIR=<the project> -DWORK=<scratch folder> -P checklayers_test.cmake
set(layers "common;link;core")
set(core "common;link;core")

function(write_tree name)
  set(tree "${WORK}/${name}")
  file(REMOVE_RECURSE "${tree}")
  file(COPY "${SOURCE_DIR}/common/controlnames.h" DESTINATION "${tree}/common")
  file(WRITE "${tree}/common/controls.cpp" "QString a = \"btnEnvia\"; // the table spells names\n")
  file(WRITE "${tree}/core/controller.cpp" "#include \"link/receiver.h\"\n")
  file(WRITE "${tree}/link/receiver.h" "// reads \"eLimiteRpm\" in a comment\nint f();\n")
  set(tree "${tree}" PARENT_SCOPE)
endfunction()

function(run_check tree out_result out_text)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${tree}" "-DLAYERS=${layers}" "-DCORE=${core}"
                          "-DSTAMP=${tree}/stamp" -P "${SOURCE_DIR}/cmake/checklayers.cmake"
                  RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

write_tree(clean)
run_check("${tree}" result text)
if(NOT result EQUAL 0 OR NOT EXISTS "${tree}/stamp")
  message(FATAL_ERROR "a clean tree was refused:\n${text}")
endif()

# Each case: the file, its text, what the refusal must say.
set(cases
  "link/receiver.cpp|#include \"core/controller.h\"|link/receiver.cpp: #include \"core/controller.h\" (link may include only folders below it: core is above)"
  "link/scanner.cpp|s.setText(QStringLiteral(\"eLeitura\"), t)|link/scanner.cpp: \"eLeitura\" (name a control by its constant"
  "core/undo.cpp|const char *cell = \"e12i\"|core/undo.cpp: \"e12i\" (name a control by its constant")
foreach(case ${cases})
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 file)
  list(GET parts 1 code)
  list(GET parts 2 want)
  write_tree(refused)
  file(WRITE "${tree}/${file}" "${code}\n")
  run_check("${tree}" result text)
  string(FIND "${text}" "${want}" at)
  if(result EQUAL 0 OR at EQUAL -1 OR EXISTS "${tree}/stamp")
    message(FATAL_ERROR "${file} with '${code}' was not refused as expected (${want}):\n${text}")
  endif()
endforeach()
message(STATUS "the layer check passed a clean tree and refused each wrong one")
