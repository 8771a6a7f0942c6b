# After the manifest helper has written the LV2 bundle's Turtle files, mend what JUCE 7.0.5's
# writer gets wrong (see packaging/LV2TurtleFix.cpp). POST_BUILD steps run in the order they
# were added, so this one follows the framework's; a new mender relinks the module, so both
# steps run again from the helper's fresh output.
add_executable(kestrine-lv2-turtle-fix "${PROJECT_SOURCE_DIR}/packaging/LV2TurtleFix.cpp")
add_dependencies(Kestrine_LV2 kestrine-lv2-turtle-fix)
set_property(TARGET Kestrine_LV2 APPEND PROPERTY LINK_DEPENDS "$<TARGET_FILE:kestrine-lv2-turtle-fix>")
add_custom_command(TARGET Kestrine_LV2 POST_BUILD
    COMMAND kestrine-lv2-turtle-fix "$<TARGET_FILE_DIR:Kestrine_LV2>"
    VERBATIM)
