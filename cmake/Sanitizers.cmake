# Sanitizer builds apply to every target, JUCE included, so that the framework and the
# plug-in agree on the instrumented runtime.
if(KESTRINE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KESTRINE_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
    endif()
    set(KESTRINE_ASAN ON)
endif()

if(KESTRINE_TSAN AND KESTRINE_ASAN)
    message(FATAL_ERROR "KESTRINE_TSAN and KESTRINE_ASAN cannot be combined")
endif()

if(KESTRINE_TSAN)
    add_compile_options(-fsanitize=thread -g -O1)
    add_link_options(-fsanitize=thread)
endif()

if(KESTRINE_ASAN)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g -O1)
    add_link_options(-fsanitize=address,undefined)
endif()
