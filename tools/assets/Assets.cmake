# The factory presets and the bundle's snapshots, made at build time from the preset texts in
# presets/ by kestrine-assets, a small tool that links the plug-in's shared code and loads the
# built bundle. Included from the top level after the plug-in targets.

# The VST3 preset file, read and written without the framework.
add_library(kestrine_vstpreset STATIC "${CMAKE_CURRENT_LIST_DIR}/VstPresetFile.cpp")
target_include_directories(kestrine_vstpreset PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_compile_features(kestrine_vstpreset PUBLIC cxx_std_17)
target_link_libraries(kestrine_vstpreset PRIVATE kestrine_warning_flags)

# Reading the preset texts, the musical input the snapshot plays (the demo's chords), and
# writing the tools' files.
add_library(kestrine_assets_core STATIC
    "${CMAKE_CURRENT_LIST_DIR}/FactoryPreset.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/../DemoInput.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/../ToolFiles.cpp")
target_include_directories(kestrine_assets_core PUBLIC "${CMAKE_CURRENT_LIST_DIR}" "${CMAKE_CURRENT_LIST_DIR}/..")
target_link_libraries(kestrine_assets_core PUBLIC kestrine_shared kestrine_host kestrine_vstpreset PRIVATE kestrine_warning_flags)

add_executable(kestrine-assets "${CMAKE_CURRENT_LIST_DIR}/AssetsMain.cpp")
target_link_libraries(kestrine-assets PRIVATE kestrine_assets_core kestrine_warning_flags ${CMAKE_DL_LIBS})

file(GLOB KESTRINE_PRESET_TEXTS CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/presets/*.xml")

# Where the build puts what it makes: the .vstpreset files beside the bundle's folder, the LV2
# presets as a bundle beside Kestrine.lv2 (where an LV2 host that loads the one finds the other),
# the snapshots inside the bundle, where hosts look for them.
set(KESTRINE_VST3_PRESETS_DIR "${CMAKE_BINARY_DIR}/Kestrine_artefacts/$<CONFIG>/VST3Presets")
set(KESTRINE_LV2_PRESETS_BUNDLE "${CMAKE_BINARY_DIR}/Kestrine_artefacts/$<CONFIG>/LV2/Kestrine-presets.lv2")
set(KESTRINE_SNAPSHOT_PRESET "Hollow Pulse" CACHE STRING "The factory preset that the bundle's snapshots show")
set(_kestrine_assets_stamp "${CMAKE_BINARY_DIR}/Kestrine_artefacts/$<CONFIG>/kestrine-assets.stamp")

# A ThreadSanitizer build's tool runs with the project's suppressions and, on Linux (the one
# platform-specific spot here), without address-space randomisation, which the sanitizer needs.
# In an AddressSanitizer build LeakSanitizer stays on, so a leak fails the build as it fails a test.
set(_kestrine_assets_launcher)
if(KESTRINE_TSAN)
    set(_kestrine_assets_launcher
        "${CMAKE_COMMAND}" -E env "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp halt_on_error=1")
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        list(APPEND _kestrine_assets_launcher setarch "${CMAKE_SYSTEM_PROCESSOR}" -R)
    endif()
endif()

add_custom_command(
    OUTPUT "${_kestrine_assets_stamp}"
    COMMAND ${_kestrine_assets_launcher} $<TARGET_FILE:kestrine-assets>
            --presets "${PROJECT_SOURCE_DIR}/presets"
            --bundle "${KESTRINE_BUNDLE}"
            --vst3-presets "${KESTRINE_VST3_PRESETS_DIR}"
            --lv2-presets "${KESTRINE_LV2_PRESETS_BUNDLE}"
            --snapshots "${KESTRINE_BUNDLE}/Contents/Resources/Snapshots"
            --snapshot-preset "${KESTRINE_SNAPSHOT_PRESET}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${_kestrine_assets_stamp}"
    DEPENDS kestrine-assets Kestrine_VST3 ${KESTRINE_PRESET_TEXTS}
    COMMENT "Making the factory presets and the bundle's snapshots"
    VERBATIM)

add_custom_target(KestrineAssets ALL DEPENDS "${_kestrine_assets_stamp}")

# The presets go where hosts look for them: the .vstpreset files into the VST3 preset folder of
# the maker and plug-in, the LV2 presets' bundle beside Kestrine.lv2.
install(DIRECTORY "${KESTRINE_VST3_PRESETS_DIR}/"
        DESTINATION "${KESTRINE_VST3_PRESETS_INSTALL_DIR}"
        FILES_MATCHING PATTERN "*.vstpreset")
install(DIRECTORY "${KESTRINE_LV2_PRESETS_BUNDLE}"
        DESTINATION "${KESTRINE_LV2_INSTALL_DIR}")
