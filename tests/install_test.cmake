# Installs the build tree into a fresh prefix, checks the installed files,
# then configures, builds and runs the consumer project against it.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DSANITIZE=ON] -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin/tesslar bin/tesslar-hex bin/tesslar-merge lib/libquillkit.a include/quillkit/ihex.h include/quillkit/quillkit.h
        lib/cmake/quillkit/quillkitConfig.cmake lib/cmake/quillkit/quillkitConfigVersion.cmake
        lib/cmake/quillkit/quillkitTargets.cmake share/man/man1/tesslar.1 share/man/man1/tesslar-hex.1)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# A sanitizer build installs an instrumented library, which needs the
# sanitizer runtimes at link time.
set(link_flags)
if(SANITIZE)
    set(link_flags -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix} ${link_flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
execute_process(COMMAND ${WORK_DIR}/consumer/consumer RESULT_VARIABLE status OUTPUT_VARIABLE line)
if(NOT status EQUAL 0 OR NOT line MATCHES "^:0300300002337A1E\r?\n$")
    message(FATAL_ERROR "consumer failed (${status}): '${line}'")
endif()

# The installed command runs and prints its banner.
execute_process(COMMAND ${prefix}/bin/tesslar RESULT_VARIABLE status OUTPUT_VARIABLE text)
if(NOT status EQUAL 1 OR NOT text MATCHES "^\nTESSLAR v")
    message(FATAL_ERROR "installed tesslar: status ${status}, output '${text}'")
endif()
message(STATUS "installed into ${prefix}; consumer printed ${line}")
