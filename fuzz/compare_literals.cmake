# Compiles FILE (relative to both roots) with GXX twice: from SOURCE_ROOT as the program is built,
# with the GBK execution character set, and from GBK_ROOT, transcoded, without it. The objects
# must be identical; then STAMP is written. LAUNCHER (optional) runs the compiler, e.g. ccache.
foreach(variable GXX SOURCE_ROOT GBK_ROOT FILE STAMP)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "compare_literals: ${variable} not set")
    endif()
endforeach()

get_filename_component(folder ${STAMP} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
set(common -std=c++20 -O0 -g0 -w -finput-charset=UTF-8 -I. -c ${FILE})

execute_process(COMMAND ${LAUNCHER} ${GXX} ${common} -fexec-charset=GB18030 -o ${STAMP}.program.o
    WORKING_DIRECTORY ${SOURCE_ROOT} RESULT_VARIABLE programResult)
execute_process(COMMAND ${LAUNCHER} ${GXX} ${common} -o ${STAMP}.transcoded.o
    WORKING_DIRECTORY ${GBK_ROOT} RESULT_VARIABLE transcodedResult)
if(NOT programResult EQUAL 0 OR NOT transcodedResult EQUAL 0)
    message(FATAL_ERROR "literal check: ${FILE} does not compile with ${GXX}")
endif()

file(SHA256 ${STAMP}.program.o programHash)
file(SHA256 ${STAMP}.transcoded.o transcodedHash)
if(NOT programHash STREQUAL transcodedHash)
    message(FATAL_ERROR "literal check: ${FILE} gives other bytes once transcoded "
                        "(compare ${STAMP}.program.o and ${STAMP}.transcoded.o)")
endif()
file(REMOVE ${STAMP}.program.o ${STAMP}.transcoded.o)
file(TOUCH ${STAMP})
