# ctest -P script: installs the build into a scratch prefix, checks the
# installed tree, then builds tests/consumer against it with
# find_package(apfold) and runs both it and the installed apfold on a copy of
# the example survey: each must write the golden database.
#
#   cmake -DAPFOLD_BUILD_DIR=... -DWORK_DIR=... -DCONSUMER_SOURCE_DIR=... -DGENERATOR=...
#         -DCXX_COMPILER=... -DLINK_FLAGS=... -DEXAMPLE_SURVEY=... -DGOLDEN=...
#         -DPROJECT_VERSION=... -P installed_package.cmake
foreach(var APFOLD_BUILD_DIR WORK_DIR CONSUMER_SOURCE_DIR GENERATOR CXX_COMPILER EXAMPLE_SURVEY
    GOLDEN PROJECT_VERSION)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# run(<what> <working directory> <command>...)
function(run what dir)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${dir}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run("cmake --install" "${WORK_DIR}" ${CMAKE_COMMAND} --install "${APFOLD_BUILD_DIR}" --prefix "${prefix}")

# The installed tree. The library directory is lib, or lib64 where
# GNUInstallDirs says so.
file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
list(SORT installed)
string(REPLACE ";" "\n  " listing "${installed}")
message(STATUS "installed into ${prefix}:\n  ${listing}")
set(libdir lib)
if(EXISTS "${prefix}/lib64/cmake/apfold")
  set(libdir lib64)
endif()
foreach(path
    bin/apfold bin/apdump bin/apsurvey
    share/man/man1/apfold.1 share/man/man1/apdump.1 share/man/man1/apsurvey.1
    include/apfold/input/file_io.h include/apfold/input/scan_text.h include/apfold/input/seq_file.h
    include/apfold/input/scan_listing.h
    include/apfold/input/decimal.h
    include/apfold/radiomap/refpoint.h include/apfold/radiomap/folding.h
    include/apfold/radiomap/database.h include/apfold/radiomap/db_reader.h include/apfold/report/report.h
    include/apfold/laser/laserscan.h
    ${libdir}/libapfold_core.a
    ${libdir}/cmake/apfold/apfoldConfig.cmake ${libdir}/cmake/apfold/apfoldConfigVersion.cmake
    ${libdir}/cmake/apfold/apfoldTargets.cmake)
  if(NOT EXISTS "${prefix}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(path include/apfold/platform include/apfold/apdump include/apfold/apsurvey include/apfold/views
    include/apfold/input/file_io.cpp)
  if(EXISTS "${prefix}/${path}")
    message(FATAL_ERROR "installed but internal: ${path}")
  endif()
endforeach()
foreach(page apfold.1 apdump.1 apsurvey.1)
  file(READ "${prefix}/share/man/man1/${page}" text)
  if(NOT text MATCHES "\"apfold ${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${page} does not name version ${PROJECT_VERSION}")
  endif()
endforeach()

# Another project's program, built on the installed package alone.
set(build "${WORK_DIR}/consumer-build")
run("configuring the consumer" "${WORK_DIR}" ${CMAKE_COMMAND} -S "${CONSUMER_SOURCE_DIR}" -B "${build}"
  -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_PREFIX_PATH=${prefix}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" "-DAPFOLD_EXPECTED_VERSION=${PROJECT_VERSION}"
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(STRINGS "${build}/CMakeCache.txt" found REGEX "^apfold_DIR:")
if(NOT found STREQUAL "apfold_DIR:PATH=${prefix}/${libdir}/cmake/apfold")
  message(FATAL_ERROR "find_package(apfold) found another package: ${found}")
endif()
run("building the consumer" "${WORK_DIR}" ${CMAKE_COMMAND} --build "${build}")

# A version the package is not compatible with is refused.
execute_process(COMMAND ${CMAKE_COMMAND} -S "${CONSUMER_SOURCE_DIR}" -B "${WORK_DIR}/too-new"
  -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_PREFIX_PATH=${prefix}"
  -DAPFOLD_EXPECTED_VERSION=99.0
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "version: ${PROJECT_VERSION}")
  message(FATAL_ERROR "find_package(apfold 99.0) was not refused (${rc}):\n${err}")
endif()

# Both the installed apfold and the consumer fold the example survey.
set(survey "${WORK_DIR}/survey")
file(COPY "${EXAMPLE_SURVEY}/" DESTINATION "${survey}")
run("the consumer" "${survey}" "${build}/consumer" 12 3 "${WORK_DIR}/consumer.db.bin")
if(NOT run_output MATCHES "folded 12 points, 8 readings dropped, grid 4 x 3\n")
  message(FATAL_ERROR "unexpected consumer output:\n${run_output}")
endif()
if(NOT run_output MATCHES "laser: 3 readings, first at \\(-86.603, 50.000\\)")
  message(FATAL_ERROR "unexpected laser conversion:\n${run_output}")
endif()
run("the installed apfold" "${survey}" "${prefix}/bin/apfold" 12 3)
foreach(db "${WORK_DIR}/consumer.db.bin" "${survey}/db.bin")
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${db}" "${GOLDEN}" RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${db} differs from ${GOLDEN}")
  endif()
endforeach()
message(STATUS "the installed apfold and the consumer both wrote ${GOLDEN}")
