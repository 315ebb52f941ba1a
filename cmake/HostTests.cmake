# Host tests: load the built VST3, LV2 and VST 2 binaries the way a host does.
# The executable hosts VST3 and LV2 through JUCE and VST 2 through a small
# direct host of its own; it never links the shared-code library.

find_package(X11 REQUIRED)

file(GLOB KELT_HOST_TEST_SOURCES CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/tests/host/*.cpp"
    "${CMAKE_SOURCE_DIR}/tests/host/*.h")

# A console app, so JUCE links the platform libraries its modules need.
juce_add_console_app(KeltHostTests)
target_sources(KeltHostTests PRIVATE ${KELT_HOST_TEST_SOURCES})
kelt_enable_warnings(${KELT_HOST_TEST_SOURCES})
# The fst headers carry #warning notes of their own about their origins.
set_property(SOURCE ${KELT_HOST_TEST_SOURCES} APPEND PROPERTY COMPILE_OPTIONS -Wno-cpp)

# The plug-ins must exist before the tests run against them.
add_dependencies(KeltHostTests Kelt51LE_VST3 Kelt51LE_LV2 Kelt51LE_VST)

target_include_directories(KeltHostTests PRIVATE
    "${CMAKE_SOURCE_DIR}/tests"
    # The VST 2 interface comes through our shim path, like the wrapper's.
    "${CMAKE_SOURCE_DIR}/vst2shim")

target_compile_definitions(KeltHostTests PRIVATE
    JUCE_PLUGINHOST_VST3=1
    JUCE_PLUGINHOST_LV2=1
    # The editor tests let the message loop run for a bounded time.
    JUCE_MODAL_LOOPS_PERMITTED=1
    # JUCE 7.0.5's VST 2 hosting writes speaker arrangements into a fixed
    # eight-entry array, which overruns the open-ended one of the fst headers;
    # the tests host VST 2 through its entry point and dispatcher instead.
    JUCE_PLUGINHOST_VST=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    KELT_VST3_BINARY="$<TARGET_FILE:Kelt51LE_VST3>"
    KELT_LV2_BUNDLE="$<TARGET_FILE_DIR:Kelt51LE_LV2>"
    KELT_VST2_BINARY="$<TARGET_FILE:Kelt51LE_VST>"
    KELT_LV2_URI="${KELT_LV2_URI}")

target_link_libraries(KeltHostTests PRIVATE
    juce::juce_audio_processors
    juce::juce_gui_basics
    juce::juce_recommended_config_flags
    GTest::gtest
    X11::X11
    ${CMAKE_DL_LIBS})

# Each format's editor opens ten times while audio runs, which a small
# CI machine may take well over the seconds it takes here.
gtest_discover_tests(KeltHostTests
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 180 LABELS host)
