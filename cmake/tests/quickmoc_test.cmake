# moc through the build's wrapper (cmake/quickmoc.cmake) writes the same code as moc
# given every include folder: for a window with signals and slots, a dialog, a widget
# with properties, the serial port and a test with its own metatypes. Also checks that
# the wrapper hands moc none of the folders outside the trees.
#   cmake -DWRAPPER=<velto-moc> -DMOC=<moc> -DSOURCE_DIR=<the project> -DWORK=<folder>
#         -DINCLUDES=<folders joined by |> -P quickmoc_test.cmake
string(REPLACE "|" ";" includes "${INCLUDES}")
set(args -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_TESTLIB_LIB -I${SOURCE_DIR})
foreach(dir ${includes})
  list(APPEND args "-I${dir}")
endforeach()
file(MAKE_DIRECTORY "${WORK}")

foreach(file app/form1.h app/correctiondialog.h app/tgauge.h serial/comport.h app/tests/tst_wiring.cpp)
  string(MAKE_C_IDENTIFIER "${file}" name)
  execute_process(COMMAND "${MOC}" ${args} -o "${WORK}/${name}.full" "${SOURCE_DIR}/${file}"
                  RESULT_VARIABLE full ERROR_VARIABLE full_text)
  execute_process(COMMAND "${WRAPPER}" ${args} -o "${WORK}/${name}.quick" "${SOURCE_DIR}/${file}"
                  RESULT_VARIABLE quick ERROR_VARIABLE quick_text)
  if(NOT full EQUAL 0 OR NOT quick EQUAL 0)
    message(FATAL_ERROR "${file}: moc failed (${full}, ${quick}):\n${full_text}\n${quick_text}")
  endif()
  file(READ "${WORK}/${name}.full" expected)
  file(READ "${WORK}/${name}.quick" actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${file}: the wrapper's moc writes other code than moc with every include folder")
  endif()
  string(LENGTH "${actual}" size)
  if(size LESS 1000)
    message(FATAL_ERROR "${file}: moc wrote ${size} bytes, no meta-object code")
  endif()
endforeach()

# The folders outside the trees are dropped, the trees' own kept: moc is told to print
# each folder it searches.
execute_process(COMMAND "${WRAPPER}" ${args} --debug-includes -o "${WORK}/form1.debug" "${SOURCE_DIR}/app/form1.h"
                OUTPUT_VARIABLE text ERROR_VARIABLE text)
list(GET includes 0 outside)
string(FIND "${text}" "${outside}" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the wrapper handed moc ${outside}:\n${text}")
endif()
string(FIND "${text}" "${SOURCE_DIR}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the wrapper dropped the source tree:\n${text}")
endif()
message(STATUS "5 files, the same code through the wrapper")
