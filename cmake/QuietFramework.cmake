# The framework is not this project's code to fix, so a build shows warnings of this project only:
#  - the framework's headers are system headers for every target that uses them, so that the
#    compiler reports nothing found inside them;
#  - the framework's own sources, which the plug-in's shared code compiles, are compiled with
#    warnings off.
# Include this in the top-level directory, after JUCE is found and before the targets that
# compile its sources are made (source file properties hold in the directory that sets them).

set(kestrine_framework_targets
    juce_analytics juce_audio_basics juce_audio_devices juce_audio_formats juce_audio_plugin_client
    juce_audio_processors juce_audio_utils juce_box2d juce_core juce_cryptography
    juce_data_structures juce_dsp juce_events juce_graphics juce_gui_basics juce_gui_extra
    juce_opengl juce_osc juce_product_unlocking juce_video
    juce_vst3_headers juce_lilv_headers juce_ara_headers)

# The framework's include folders, also for targets that take the framework's usage requirements
# second-hand (see kestrine_shared).
set(KESTRINE_FRAMEWORK_INCLUDES)

foreach(framework_target IN LISTS kestrine_framework_targets)
    if(TARGET ${framework_target})
        get_target_property(framework_includes ${framework_target} INTERFACE_INCLUDE_DIRECTORIES)

        if(framework_includes)
            set_property(TARGET ${framework_target} APPEND PROPERTY
                INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${framework_includes})
            list(APPEND KESTRINE_FRAMEWORK_INCLUDES ${framework_includes})
        endif()
    endif()
endforeach()

list(REMOVE_DUPLICATES KESTRINE_FRAMEWORK_INCLUDES)

# Every source file that the framework compiles sits at the top of its module's folder.
file(GLOB kestrine_framework_sources
    "${JUCE_MODULES_DIR}/*/*.cpp" "${JUCE_MODULES_DIR}/*/*.c" "${JUCE_MODULES_DIR}/*/*.mm")

if(MSVC)
    set_source_files_properties(${kestrine_framework_sources} PROPERTIES COMPILE_OPTIONS /w)
else()
    set_source_files_properties(${kestrine_framework_sources} PROPERTIES COMPILE_OPTIONS -w)
endif()
