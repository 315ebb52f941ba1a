# The plug-in: one shared-code static library (target Kelt51LE) that holds all
# of our code and is linked by every format wrapper and by the tests.

set(KELT_LV2_URI "https://vesk-audio.example/plugins/kelt51le")
set(KELT_COMPANY_EMAIL "contact@vesk-audio.example")

if(APPLE)
    set(KELT_FORMATS VST3 AU Standalone LV2 VST)
    # The Audio Unit's entry points are named with this prefix.
    set(KELT_APPLE_PLUGIN_OPTIONS AU_EXPORT_PREFIX Kelt51_LE)
    if(KELT_AAX_SDK_PATH)
        juce_set_aax_sdk_path("${KELT_AAX_SDK_PATH}")
        list(APPEND KELT_FORMATS AAX)
    endif()
else()
    set(KELT_FORMATS VST3 LV2 Standalone VST)
endif()

juce_add_plugin(Kelt51LE
    COMPANY_NAME "Vesk Audio"
    COMPANY_WEBSITE "https://vesk-audio.example"
    BUNDLE_ID "com.vesk-audio.kelt51le"
    AAX_IDENTIFIER "com.vesk-audio.kelt51le"
    PRODUCT_NAME "Kelt5.1 LE"
    PLUGIN_NAME "Kelt5.1 LE"
    DESCRIPTION "Kelt5.1 Light Edition"
    VERSION 1.0.1
    PLUGIN_MANUFACTURER_CODE Vesk
    PLUGIN_CODE Zuno
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT FALSE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST2_CATEGORY kPlugCategEffect
    VST3_CATEGORIES Fx Analyzer
    AU_MAIN_TYPE kAudioUnitType_Effect
    AAX_CATEGORY AAX_ePlugInCategory_SoundField
    LV2URI "${KELT_LV2_URI}"
    ${KELT_APPLE_PLUGIN_OPTIONS}
    COPY_PLUGIN_AFTER_BUILD FALSE
    FORMATS ${KELT_FORMATS})

file(GLOB_RECURSE KELT_SOURCES CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/source/*.cpp" "${CMAKE_SOURCE_DIR}/source/*.h")
target_sources(Kelt51LE PRIVATE ${KELT_SOURCES})
kelt_enable_warnings(${KELT_SOURCES})

target_include_directories(Kelt51LE PUBLIC "${CMAKE_SOURCE_DIR}/source")

target_compile_definitions(Kelt51LE
    PUBLIC
        # Debian's JUCE ignores the LV2URI option and would fall back to the
        # product name, which LV2 hosts cannot resolve.
        JucePlugin_LV2URI="${KELT_LV2_URI}"
        # Stereo first: hosts that take the VST3 default layout as fixed (Ardour
        # 7.3 keeps passing the channel count it first saw) get the common case.
        JucePlugin_PreferredChannelConfigurations={2,2},{6,6},{5,5},{1,1}
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_VST3_CAN_REPLACE_VST2=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_USE_FLAC=0
        JUCE_USE_OGGVORBIS=0
        JUCE_SILENCE_XCODE_15_LINKER_WARNING=1)

# Fused multiply-adds change float results; the loudness arithmetic is exact
# as written.
target_compile_options(Kelt51LE PUBLIC -ffp-contract=off)

target_link_libraries(Kelt51LE
    PRIVATE
        juce::juce_audio_utils
        juce::juce_audio_processors
    PUBLIC
        juce::juce_recommended_config_flags)

# VST 2 hosts read the version as a decimal number: 1.0.1 is 101. JUCE's
# wrapper would report the hex code 0x10001 as 65537.
if(TARGET Kelt51LE_VST)
    target_compile_options(Kelt51LE_VST PRIVATE
        -UJucePlugin_VersionCode -DJucePlugin_VersionCode=101
        -DJUCE_VST_RETURN_HEX_VERSION_NUMBER_DIRECTLY=1)
endif()

# JUCE writes the company e-mail into the LV2 description as the maker's
# mailbox IRI, as it stands; an empty one resolves to the description file
# itself, and a bare address to a file beside it.
# LV2 has no channel negotiation: JUCE fixes the ports at the first
# configuration, so the LV2 build puts 5.1 first and a stereo or mono track
# leaves the ports it does not use silent.
if(TARGET Kelt51LE_LV2)
    target_compile_options(Kelt51LE_LV2 PRIVATE
        -UJucePlugin_ManufacturerEmail
        "-DJucePlugin_ManufacturerEmail=\"mailto:${KELT_COMPANY_EMAIL}\""
        -UJucePlugin_PreferredChannelConfigurations
        "-DJucePlugin_PreferredChannelConfigurations={6,6},{5,5},{2,2},{1,1}")
endif()

add_subdirectory(resources)
