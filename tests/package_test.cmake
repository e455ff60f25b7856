# Builds the Debian package of the build tree and checks what it holds.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P package_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages count)
if(NOT status EQUAL 0 OR NOT count EQUAL 1)
    message(FATAL_ERROR "cpack failed (${status}):\n${log}")
endif()
execute_process(COMMAND dpkg-deb --contents ${packages} OUTPUT_VARIABLE contents RESULT_VARIABLE status)
foreach(file usr/bin/tesslar usr/bin/tesslar-hex usr/bin/tesslar-merge usr/share/man/man1/tesslar.1 usr/share/man/man1/tesslar-hex.1
        usr/lib/libquillkit.a usr/include/quillkit/ihex.h usr/lib/cmake/quillkit/quillkitConfig.cmake)
    if(NOT contents MATCHES " \\./${file}\n")
        message(FATAL_ERROR "${file} is not in ${packages}:\n${contents}")
    endif()
endforeach()
execute_process(COMMAND dpkg-deb --field ${packages} Package Version Depends OUTPUT_VARIABLE fields)
message(STATUS "${packages}\n${fields}")
