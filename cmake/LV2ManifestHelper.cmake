# The LV2 target writes its manifest after linking: a helper program loads the built module,
# asks it for its Turtle files and writes them into the bundle. JUCE makes a target named
# juce_lv2_helper for that unless one exists already.
#
# Debian ships that helper prebuilt (juce::juce_lv2_helper); plain builds use it. A sanitizer
# build's module leaves the sanitizer runtime to the program that loads it, which the prebuilt
# helper lacks, so there JUCE compiles the same helper from the framework's source with the
# build-wide sanitizer flags. A JUCE checkout (JUCE_DIR) always builds its own.
if(TARGET juce::juce_lv2_helper AND NOT TARGET juce_lv2_helper
   AND NOT KESTRINE_ASAN AND NOT KESTRINE_TSAN)
    get_target_property(_kestrine_helper_configs juce::juce_lv2_helper IMPORTED_CONFIGURATIONS)
    list(GET _kestrine_helper_configs 0 _kestrine_helper_config)
    get_target_property(_kestrine_helper juce::juce_lv2_helper IMPORTED_LOCATION_${_kestrine_helper_config})

    add_executable(juce_lv2_helper IMPORTED)
    set_target_properties(juce_lv2_helper PROPERTIES IMPORTED_LOCATION "${_kestrine_helper}")
endif()
