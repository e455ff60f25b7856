# SPDX-License-Identifier: MIT
# Installs the build tree into a fresh prefix and uses it as a user would: the
# files are there, the library's CMake package, pkg-config file and header
# say the project's VERSION, the example bootloader (C99) builds against it
# with CMake and with the C compiler alone and pkg-config, and loads a slot
# that the installed tesslar-merge filled and stamped.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... [-DSANITIZE=ON] -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(example ${SOURCE_DIR}/examples/uart-loader)
set(flags "")
if(SANITIZE) # an instrumented library needs the sanitizers' runtimes
    set(flags -fsanitize=address,undefined)
endif()
foreach(step
        "${CMAKE_COMMAND};--install;${BUILD_DIR};--prefix;${prefix}"
        "${CMAKE_COMMAND};-S;${SOURCE_DIR}/tests/consumer;-B;${WORK_DIR}/cmake;-DCMAKE_PREFIX_PATH=${prefix};-DEXAMPLE_DIR=${example};-DEXPECTED_VERSION=${VERSION};-DCMAKE_EXE_LINKER_FLAGS=${flags}"
        "${CMAKE_COMMAND};--build;${WORK_DIR}/cmake"
        "sh;-c;gcc -std=c99 -pedantic -Wall -Wextra -Werror ${flags} -o ${WORK_DIR}/gcc ${example}/loader.c ${example}/host.c $(PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --cflags --libs quillkit)"
        "${prefix}/bin/tesslar-merge;--fill;0x08000000+0x1000;--stamp;sha256@0x08000FDC,range=0x08000000:0x08000FDB;--crc;CRC-32;--crc-at;0x08000FFC;-o;${WORK_DIR}/slot.hex;${SOURCE_DIR}/examples/blinky.hex"
        "${WORK_DIR}/cmake/consumer;0x08000000;0x08000FFF;${WORK_DIR}/slot.hex;${WORK_DIR}/slot.bin"
        "${WORK_DIR}/cmake/version_check"
        "sh;-c;test \"$(PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --modversion quillkit)\" = ${VERSION}"
        "${WORK_DIR}/gcc;0x08000000;0x08000FFF;${WORK_DIR}/slot.hex;${WORK_DIR}/slot.bin"
        "test;-f;${prefix}/share/man/man1/tesslar-merge.1.gz;-a;-f;${prefix}/share/bash-completion/completions/tesslar-hex;-a;-f;${prefix}/share/doc/tesslar/copyright")
    execute_process(COMMAND ${step} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${step}\n${out}")
    endif()
endforeach()
