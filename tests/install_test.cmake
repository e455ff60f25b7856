# SPDX-License-Identifier: MIT
# Installs the build tree into a fresh prefix and uses it as a user would:
# the files are there, a CMake project and a plain compiler line with
# pkg-config both link the library, and the installed command runs.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DSANITIZE=ON] -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin/tesslar bin/tesslar-hex bin/tesslar-merge lib/libquillkit.a include/quillkit/ihex.h
        include/quillkit/quillkit.h lib/cmake/quillkit/quillkitConfig.cmake lib/pkgconfig/quillkit.pc
        share/man/man1/tesslar-merge.1.gz share/bash-completion/completions/tesslar-hex share/doc/tesslar/copyright)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# Each consumer parses a record and writes it back; it fails unless the two agree.
set(flags "") # an instrumented library needs the sanitizer runtimes
if(SANITIZE)
    set(flags -fsanitize=address,undefined)
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/cmake -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(sh -c "c++ -Wall -Werror ${flags} -o ${WORK_DIR}/pkgconfig ${SOURCE_DIR}/tests/consumer/main.cpp \
    $(PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --cflags --libs quillkit)")
run(${WORK_DIR}/cmake/consumer)
run(${WORK_DIR}/pkgconfig)
execute_process(COMMAND ${prefix}/bin/tesslar-merge -i ${SOURCE_DIR}/examples/blinky.hex RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the installed tesslar-merge failed")
endif()
