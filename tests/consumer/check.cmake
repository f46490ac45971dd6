# Installs a build of the library into a fresh prefix, then configures, builds
# and runs the consumer project beside this file against that prefix alone.
# Run by CTest (test "install_consumer") as
#   cmake -DBUILD_DIR=... -DCONFIG=... -DWORK_DIR=... -DGENERATOR=...
#         -DCXX_COMPILER=... -P check.cmake
# It fails on an incomplete install: a public header that includes something
# not installed, a dependency the package config does not find, a symbol not
# exported, a compile requirement (the C++ standard) the target does not carry.

foreach(var BUILD_DIR CONFIG WORK_DIR GENERATOR CXX_COMPILER)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check.cmake needs -D${var}=...")
    endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${rc}): ${command}")
    endif()
endfunction()

set(config_args)
if(CONFIG)
    set(config_args --config ${CONFIG})
endif()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} ${config_args} --prefix ${prefix})

run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${CONFIG}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_PREFIX_PATH=${prefix})

# A copy installed elsewhere on the machine must not stand in for this one.
file(STRINGS ${consumer_build}/CMakeCache.txt found_dir REGEX "^QNStandardClasses_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
cmake_path(IS_PREFIX prefix "${found_dir}" NORMALIZE in_prefix)
if(NOT in_prefix)
    message(FATAL_ERROR "the package was found in ${found_dir}, not under ${prefix}")
endif()

run(${CMAKE_COMMAND} --build ${consumer_build})

# The app finds the installed library through the run path CMake gives a
# build-tree executable (the directories of the libraries it links).
set(app ${consumer_build}/app)
execute_process(COMMAND ldd ${app} OUTPUT_VARIABLE linked RESULT_VARIABLE rc)
string(REGEX MATCH "libqnstd\\.so[^\n]*=> ([^ \n]*)" _ "${linked}")
cmake_path(IS_PREFIX prefix "${CMAKE_MATCH_1}" NORMALIZE in_prefix)
if(NOT rc EQUAL 0 OR NOT in_prefix)
    message(FATAL_ERROR "app does not load libqnstd from ${prefix}:\n${linked}")
endif()
run(${app})

# The installed tool finds the library beside it (its install run path).
if(EXISTS ${prefix}/bin/qn)
    run(${prefix}/bin/qn decimal 0.1+0.2)
endif()
