# SPDX-License-Identifier: MIT
# Builds the Debian packages as the package preset does (installing into
# /usr, the library in Debian's multiarch folder), checks what each holds, and
# has lintian (installed here when missing) find no error and no warning.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P package_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND bash ${SOURCE_DIR}/scripts/install-deps lintian)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=/usr -DTESSLAR_TESTS=OFF OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2 OUTPUT_QUIET)
execute_process(COMMAND cpack -G DEB --config ${WORK_DIR}/build/CPackConfig.cmake -B ${WORK_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
foreach(package_files
        "tesslar:bin/tesslar-merge share/man/man1/tesslar.1.gz share/bash-completion/completions/tesslar"
        "libquillkit-dev:lib/x86_64-linux-gnu/libquillkit.a lib/x86_64-linux-gnu/pkgconfig/quillkit.pc include/quillkit/ihex.h")
    string(REGEX MATCH "^[^:]+" package ${package_files})
    file(GLOB deb ${WORK_DIR}/${package}_*.deb)
    execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE contents)
    string(REGEX REPLACE "^[^:]+:" "share/doc/${package}/copyright share/doc/${package}/changelog.gz " files ${package_files})
    string(REPLACE " " ";" files ${files})
    foreach(file ${files})
        if(NOT contents MATCHES " \\./usr/${file}\n")
            message(FATAL_ERROR "${file} is not in the package ${package} (cpack: ${status})\n${log}\n${contents}")
        endif()
    endforeach()
endforeach()
file(GLOB debs ${WORK_DIR}/*.deb)
execute_process(COMMAND lintian --fail-on error,warning ${debs} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lintian finds fault with the packages")
endif()
