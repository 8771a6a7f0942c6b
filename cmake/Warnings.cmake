# The warnings for this project's own code, linked by each of its targets (the framework's own
# code is kept quiet, see QuietFramework.cmake). A build should show none.
add_library(kestrine_warning_flags INTERFACE)

if(MSVC)
    target_compile_options(kestrine_warning_flags INTERFACE /W4)
else()
    target_compile_options(kestrine_warning_flags INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion)
endif()
