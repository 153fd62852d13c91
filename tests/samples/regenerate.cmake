# Runs the sample generator into an empty folder and compares every file it
# writes with the one kept in samples/, byte for byte; the two folders must
# hold the same spectrum files.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
execute_process(COMMAND "${GENERATOR}" "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_samples failed: ${rc}")
endif()

file(GLOB written RELATIVE "${OUT}" "${OUT}/*.txt")
file(GLOB kept RELATIVE "${REFERENCE}" "${REFERENCE}/*.txt")
list(SORT written)
list(SORT kept)
if(NOT written STREQUAL kept)
  message(FATAL_ERROR "generated files (${written}) differ from samples/ (${kept})")
endif()
list(LENGTH written n)
if(n LESS 3)
  message(FATAL_ERROR "only ${n} sample files: ${written}")
endif()

foreach(name IN LISTS written)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}/${name}" "${REFERENCE}/${name}"
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${name}: the regenerated file differs from samples/${name}")
  endif()
  file(SIZE "${OUT}/${name}" size)
  message(STATUS "${name}: ${size} bytes, identical")
endforeach()
