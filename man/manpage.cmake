# SPDX-License-Identifier: MIT
#
# One manual page: scdoc source in, gzipped roff out.
#   cmake -DSCDOC=scdoc -DINPUT=page.1.scd -DOUTPUT=page.1.gz -P manpage.cmake
get_filename_component(name "${OUTPUT}" NAME_WLE)
get_filename_component(dir "${OUTPUT}" DIRECTORY)
set(roff "${dir}/${name}")
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${INPUT}" OUTPUT_FILE "${roff}"
                ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${roff}")
    message(FATAL_ERROR "scdoc refused ${INPUT}: ${error}")
endif()
# -n: no name or time stamp in the header, so equal pages give equal bytes.
execute_process(COMMAND gzip -9 -n -c "${roff}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "gzip failed on ${roff}: ${result}")
endif()
