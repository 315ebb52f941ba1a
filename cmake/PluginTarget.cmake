# The plug-in: one shared-code static library (target Kelt51LE) that holds all
# of our code and is linked by every format wrapper and by the tests.

# The accepted channel configurations (inputs, outputs), in order of
# preference; the wrappers that start on their first one may put stereo first.
set(KELT_CHANNEL_CONFIGURATIONS "{6,6},{5,5},{2,2},{1,1}")
set(KELT_STEREO_FIRST_CHANNEL_CONFIGURATIONS "{2,2},{6,6},{5,5},{1,1}")

set(KELT_LV2_URI "https://vesk-audio.example/plugins/kelt51le")
set(KELT_COMPANY_EMAIL "contact@vesk-audio.example")

if(APPLE)
    set(KELT_FORMATS VST3 AU Standalone LV2 VST)
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
    # JUCE appends "Entry" and "Factory": the Audio Unit's entry points are
    # Kelt51_LE_AUEntry and Kelt51_LE_AUFactory.
    AU_EXPORT_PREFIX Kelt51_LE_AU
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
        # In order of preference, widest first. Each wrapper reads its own copy;
        # the VST3 and the Standalone app override it below.
        JucePlugin_PreferredChannelConfigurations=${KELT_CHANNEL_CONFIGURATIONS}
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
# configuration, 5.1, and a stereo or mono track leaves the ports it does not
# use silent.
if(TARGET Kelt51LE_LV2)
    target_compile_options(Kelt51LE_LV2 PRIVATE
        -UJucePlugin_ManufacturerEmail
        "-DJucePlugin_ManufacturerEmail=\"mailto:${KELT_COMPANY_EMAIL}\"")
endif()

# Stereo first where the first configuration is where the plug-in starts and
# hosts may keep it: Ardour 7.3 keeps passing the channel count of a VST3's
# starting layout after switching it, and the Standalone app opens its audio
# device with it.
foreach(wrapper Kelt51LE_VST3 Kelt51LE_Standalone)
    if(TARGET ${wrapper})
        target_compile_options(${wrapper} PRIVATE
            -UJucePlugin_PreferredChannelConfigurations
            "-DJucePlugin_PreferredChannelConfigurations=${KELT_STEREO_FIRST_CHANNEL_CONFIGURATIONS}")
    endif()
endforeach()

add_subdirectory(resources)
