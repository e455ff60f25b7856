# SPDX-License-Identifier: MIT
# Builds the Debian packages as the package preset does (installing into /usr,
# the library in Debian's multiarch folder), checks what each holds, and has
# lintian (installed here when missing) find no error and no warning.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P package_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=/usr -DTESSLAR_TESTS=OFF OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2 OUTPUT_QUIET)
execute_process(COMMAND cpack -G DEB --config ${WORK_DIR}/build/CPackConfig.cmake -B ${WORK_DIR} OUTPUT_QUIET)
file(GLOB debs ${WORK_DIR}/*.deb)
foreach(deb ${debs})
    execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE contents)
    string(APPEND all ${contents})
endforeach()
foreach(file bin/tesslar-merge share/man/man1/tesslar.1.gz share/bash-completion/completions/tesslar
        share/doc/tesslar/copyright share/doc/libquillkit-dev/changelog.gz lib/x86_64-linux-gnu/libquillkit.a
        lib/x86_64-linux-gnu/pkgconfig/quillkit.pc include/quillkit/ihex.h)
    if(NOT all MATCHES " \\./usr/${file}\n")
        message(FATAL_ERROR "no package holds /usr/${file}:\n${all}")
    endif()
endforeach()
execute_process(COMMAND lintian --fail-on error,warning ${debs} RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT debs MATCHES "tesslar_.*libquillkit-dev_|libquillkit-dev_.*tesslar_")
    message(FATAL_ERROR "lintian finds fault with the packages ${debs}")
endif()
