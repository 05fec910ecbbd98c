# Makes one manual page, compressed as Debian wants it (gzip -9n), at build time:
#     cmake -DOUTPUT=FILE.1.gz -DVERSION=V [-DPAGE=FILE.1] [-DHELP2MAN=PATH -DPROGRAM=PATH
#           -DSUMMARY=TEXT] -P ManPage.cmake
# A hand-written PAGE has @VERSION@ replaced; otherwise help2man writes the page from the
# program's --help and --version, and from VERSION for a program without --version.
cmake_minimum_required(VERSION 3.25)

set(page "${OUTPUT}.tmp")
if(PAGE)
    file(READ "${PAGE}" text)
    string(CONFIGURE "${text}" text @ONLY)
    file(WRITE "${page}" "${text}")
else()
    execute_process(COMMAND "${PROGRAM}" --version RESULT_VARIABLE status
                    OUTPUT_QUIET ERROR_QUIET)
    set(version_option "")
    if(NOT status EQUAL 0)
        set(version_option "--version-string=${VERSION}")
    endif()
    execute_process(
        COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${SUMMARY}" ${version_option}
                "--output=${page}" "${PROGRAM}"
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "help2man failed for ${PROGRAM}")
    endif()
endif()
execute_process(COMMAND gzip -9n -c "${page}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
file(REMOVE "${page}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed for ${OUTPUT}")
endif()
