# Runs 'cmake --install' on the build into a staging folder (DESTDIR, which goes in front of
# the absolute install folders) and checks that each item lands where it belongs, as built,
# and that nothing lands anywhere else.
# Arguments (-D): BUILD_DIR, CONFIG, STAGE, and EXPECTED: a list of "installed path|built path"
# pairs. A built folder (a bundle) must arrive with the same files and contents; a built file
# must arrive unchanged; with the built path left empty the installed file only has to exist
# (a program whose run path the install may rewrite).
cmake_minimum_required(VERSION 3.22)

file(REMOVE_RECURSE "${STAGE}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${STAGE}" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --config "${CONFIG}"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)

if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(failures "")
set(accounted "")   # every staged file that an expected item explains

function(compare staged built shown)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${staged}" "${built}" RESULT_VARIABLE differs)

    if(NOT differs EQUAL 0)
        set(failures "${failures}  differs from the build: ${shown}\n" PARENT_SCOPE)
    endif()
endfunction()

foreach(pair IN LISTS EXPECTED)
    string(FIND "${pair}" "|" bar)
    string(SUBSTRING "${pair}" 0 ${bar} installed)
    math(EXPR after "${bar} + 1")
    string(SUBSTRING "${pair}" ${after} -1 built)
    set(staged "${STAGE}${installed}")

    if(NOT EXISTS "${staged}")
        string(APPEND failures "  missing: ${installed}\n")
    elseif(IS_DIRECTORY "${built}")
        file(GLOB_RECURSE built_files LIST_DIRECTORIES false RELATIVE "${built}" "${built}/*")

        foreach(file IN LISTS built_files)
            if(NOT EXISTS "${staged}/${file}")
                string(APPEND failures "  missing: ${installed}/${file}\n")
            else()
                compare("${staged}/${file}" "${built}/${file}" "${installed}/${file}")
                list(APPEND accounted "${staged}/${file}")
            endif()
        endforeach()
    else()
        if(NOT built STREQUAL "")
            compare("${staged}" "${built}" "${installed}")
        endif()

        list(APPEND accounted "${staged}")
    endif()
endforeach()

file(GLOB_RECURSE everything LIST_DIRECTORIES false "${STAGE}/*")

foreach(file IN LISTS everything)
    list(FIND accounted "${file}" index)

    if(index EQUAL -1)
        string(REPLACE "${STAGE}" "" where "${file}")
        string(APPEND failures "  installed where nothing should be: ${where}\n")
    endif()
endforeach()

if(failures)
    message(FATAL_ERROR "cmake --install did not put everything where it belongs:\n${failures}")
endif()
