# Debian's juce-modules-source: the version is pinned exactly.
find_package(JUCE 7.0.5 EXACT CONFIG REQUIRED)

# VST 2 is built on the fst headers through our own two-line shim at the path
# JUCE's wrapper includes.
juce_set_vst2_sdk_path("${CMAKE_SOURCE_DIR}/vst2shim")

get_target_property(_kelt_core_path juce::juce_core INTERFACE_JUCE_MODULE_PATH)
if(_kelt_core_path)
    set(KELT_JUCE_MODULES_DIR "${_kelt_core_path}")
else()
    set(KELT_JUCE_MODULES_DIR /usr/share/juce/modules)
endif()
