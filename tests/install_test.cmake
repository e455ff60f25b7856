# SPDX-License-Identifier: MIT
# Installs the build tree into a fresh prefix and uses it as a user would:
# the files are there, a CMake project and the C compiler alone with
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

# The example bootloader, a C99 program, built by a CMake project and by
# the C compiler alone with pkg-config, loads a slot that the installed
# tesslar-merge filled and stamped.
set(flags "") # an instrumented library needs the sanitizer runtimes
if(SANITIZE)
    set(flags -fsanitize=address,undefined)
endif()
set(example ${SOURCE_DIR}/examples/uart-loader)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/cmake -DCMAKE_PREFIX_PATH=${prefix}
    -DEXAMPLE_DIR=${example} "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(sh -c "gcc -std=c99 -pedantic -Wall -Wextra -Werror ${flags} -o ${WORK_DIR}/gcc ${example}/loader.c \
    ${example}/host.c $(PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --cflags --libs quillkit)")
run(${prefix}/bin/tesslar-merge --fill 0x08000000:0x08000FFF --crc CRC-32 --crc-at 0x08000FFC
    -o ${WORK_DIR}/slot.hex ${SOURCE_DIR}/examples/blinky.hex)
foreach(loader cmake/consumer gcc)
    run(${WORK_DIR}/${loader} 0x08000000 0x08000FFF ${WORK_DIR}/slot.hex ${WORK_DIR}/slot.bin)
endforeach()
