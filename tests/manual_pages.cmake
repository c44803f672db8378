# ctest -P script: each manual page formats with groff without a warning and
# names the project's version.
#   cmake -DGROFF=... -DPROJECT_VERSION=... "-DPAGES=a.1;b.1" -P manual_pages.cmake
foreach(page ${PAGES})
  execute_process(COMMAND "${GROFF}" -man -ww -z -Tutf8 "${page}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${page}: groff says (${rc}):\n${err}")
  endif()
  file(READ "${page}" text)
  if(NOT text MATCHES "\n\\.TH [A-Z]+ 1 \"[0-9-]+\" \"apfold ${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${page}: no .TH line with \"apfold ${PROJECT_VERSION}\"")
  endif()
  message(STATUS "${page}: formats cleanly, apfold ${PROJECT_VERSION}")
endforeach()
