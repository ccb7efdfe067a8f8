# moc reads only the project's own headers. For each file it runs on, moc follows every
# include through Qt's and the compiler's folders to expand macros, about two seconds
# a file, two of the build's minutes in all on two cores; the code it writes is the
# same without them: it knows Qt's macros itself, and an include it does not find is
# skipped. The wrapper drops every include folder outside the source and build trees.
# Included at the end of the top CMakeLists.txt: every target that runs moc uses it.
option(VELTO_QUICK_MOC "Run moc on the project's own headers only" ON)
if(NOT VELTO_QUICK_MOC OR NOT TARGET Qt6::moc OR NOT CMAKE_HOST_UNIX)
  return()
endif()
get_target_property(velto_moc Qt6::moc IMPORTED_LOCATION)
if(NOT velto_moc)
  get_target_property(velto_moc Qt6::moc LOCATION)
endif()
set(velto_quick_moc ${CMAKE_BINARY_DIR}/velto-moc)
file(CONFIGURE OUTPUT ${velto_quick_moc} @ONLY CONTENT [=[#!/bin/sh
# moc with the include folders of the source and build trees only (cmake/quickmoc.cmake).
for a in "$@"; do
  shift
  case $a in
    -I@PROJECT_SOURCE_DIR@ | -I@PROJECT_SOURCE_DIR@/* | -I@PROJECT_BINARY_DIR@ | -I@PROJECT_BINARY_DIR@/*) set -- "$@" "$a" ;;
    -I*) ;;
    *) set -- "$@" "$a" ;;
  esac
done
exec "@velto_moc@" "$@"
]=])
file(CHMOD ${velto_quick_moc} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                          WORLD_READ WORLD_EXECUTE)

function(velto_quick_moc_in dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(automoc ${t} AUTOMOC)
    if(automoc)
      set_target_properties(${t} PROPERTIES AUTOMOC_EXECUTABLE ${velto_quick_moc})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d ${subdirs})
    velto_quick_moc_in(${d})
  endforeach()
endfunction()
velto_quick_moc_in(${PROJECT_SOURCE_DIR})

# The wrapper against moc with every folder (cmake/tests/quickmoc_test.cmake).
add_test(NAME tst_quickmoc
  COMMAND ${CMAKE_COMMAND} -DWRAPPER=${velto_quick_moc} -DMOC=${velto_moc} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DWORK=${CMAKE_BINARY_DIR}/quickmoc
          "-DINCLUDES=$<JOIN:$<TARGET_PROPERTY:Qt6::Widgets,INTERFACE_INCLUDE_DIRECTORIES>;$<TARGET_PROPERTY:Qt6::Test,INTERFACE_INCLUDE_DIRECTORIES>;${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES},|>"
          -P ${PROJECT_SOURCE_DIR}/cmake/tests/quickmoc_test.cmake)
set_tests_properties(tst_quickmoc PROPERTIES LABELS unit TIMEOUT 120)
