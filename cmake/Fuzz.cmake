# libFuzzer targets. They need clang and a build directory of their own
# (scripts/run-fuzzer.sh sets one up in build-fuzz/): the shared code, JUCE
# included, is compiled with coverage feedback and the address and undefined
# behaviour sanitizers, and only it and the fuzz targets are built by default.
option(KELT_BUILD_FUZZERS "Build the libFuzzer targets (clang only, in a build directory of their own)" OFF)

if(NOT KELT_BUILD_FUZZERS)
    return()
endif()

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KELT_BUILD_FUZZERS needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()

if(NOT KELT_SANITIZER STREQUAL "")
    message(FATAL_ERROR "KELT_BUILD_FUZZERS brings its own sanitizers: leave KELT_SANITIZER empty")
endif()

set(KELT_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(KELT_BUILD_HOST_TESTS OFF CACHE BOOL "" FORCE)
set(KELT_BUILD_BENCHMARKS OFF CACHE BOOL "" FORCE)

# Undefined behaviour stops the run like a crash, so the fuzzer reports it.
set(KELT_FUZZ_COMPILE_FLAGS
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer -g)

# PUBLIC, so that everything built on the shared code is instrumented alike.
target_compile_options(Kelt51LE PUBLIC ${KELT_FUZZ_COMPILE_FLAGS})
target_link_options(Kelt51LE PUBLIC -fsanitize=address,undefined)

if(TARGET KeltImages)
    target_compile_options(KeltImages PRIVATE ${KELT_FUZZ_COMPILE_FLAGS})
endif()

foreach(unneeded IN LISTS KELT_FORMATS ITEMS juce_lv2_helper juce_vst3_helper)
    if(TARGET Kelt51LE_${unneeded})
        set_target_properties(Kelt51LE_${unneeded} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    elseif(TARGET ${unneeded})
        set_target_properties(${unneeded} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
endforeach()

add_executable(StateFuzzer "${CMAKE_SOURCE_DIR}/fuzz/StateFuzzer.cpp")
kelt_enable_warnings("${CMAKE_SOURCE_DIR}/fuzz/StateFuzzer.cpp")
target_include_directories(StateFuzzer PRIVATE $<TARGET_PROPERTY:Kelt51LE,INCLUDE_DIRECTORIES>)
target_link_libraries(StateFuzzer PRIVATE Kelt51LE)
target_link_options(StateFuzzer PRIVATE -fsanitize=fuzzer)
