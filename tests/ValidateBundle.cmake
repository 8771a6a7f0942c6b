# Runs the VST3 format's validator (extended suite) on the bundle and requires that it passes
# with no failure and lists both snapshots.
#   cmake -DVALIDATOR=path -DBUNDLE=path -DCLASS_ID=hex -P ValidateBundle.cmake
execute_process(COMMAND "${VALIDATOR}" -e "${BUNDLE}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)

if(NOT status EQUAL 0)
    message(FATAL_ERROR "the validator exited with ${status}:\n${output}")
endif()

foreach(expected
        "Found snapshots for 'Kestrine'"
        "${CLASS_ID}_snapshot.png [1x]"
        "${CLASS_ID}_snapshot_2.0x.png [2x]"
        " 0 tests failed")
    string(FIND "${output}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the validator's report lacks \"${expected}\":\n${output}")
    endif()
endforeach()

string(REGEX MATCH "Result: [0-9]+ tests passed, 0 tests failed" result "${output}")
message(STATUS "${result}")
