# Unit tests link the plug-in's shared code, so nothing is compiled twice.
find_package(GTest REQUIRED)
find_package(X11 REQUIRED)
include(GoogleTest)
# libebur128: an independent loudness and true-peak implementation, used by
# the tests only, to check the engine against.
find_package(PkgConfig REQUIRED)
pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)

file(GLOB_RECURSE KELT_TEST_SOURCES CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/tests/processor/*.cpp"
    "${CMAKE_SOURCE_DIR}/tests/editor/*.cpp"
    "${CMAKE_SOURCE_DIR}/tests/support/*.cpp")

add_executable(KeltTests "${CMAKE_SOURCE_DIR}/tests/TestMain.cpp" ${KELT_TEST_SOURCES})
kelt_enable_warnings(${KELT_TEST_SOURCES})
target_include_directories(KeltTests PRIVATE
    "${CMAKE_SOURCE_DIR}/tests"
    $<TARGET_PROPERTY:Kelt51LE,INCLUDE_DIRECTORIES>)
target_link_libraries(KeltTests PRIVATE Kelt51LE GTest::gtest X11::X11 PkgConfig::EBUR128)
# tests/support/AllocationCounter.cpp counts the C allocations (how JUCE's
# buffers allocate) and every form of the global operator new.
target_link_options(KeltTests PRIVATE
    "LINKER:--wrap=malloc,--wrap=calloc,--wrap=realloc,--wrap=aligned_alloc,--wrap=posix_memalign"
    "LINKER:--wrap=_Znwm,--wrap=_Znam,--wrap=_ZnwmSt11align_val_t,--wrap=_ZnamSt11align_val_t"
    "LINKER:--wrap=_ZnwmRKSt9nothrow_t,--wrap=_ZnamRKSt9nothrow_t")

# One process per test keeps a crash or a hang from hiding the others, and
# lets ctest run them in parallel.
gtest_discover_tests(KeltTests
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS unit)

if(KELT_BUILD_HOST_TESTS)
    include(HostTests)
endif()

# Pictures for reviewers, written by the tests (created at run time).
target_compile_definitions(KeltTests PRIVATE KELT_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")

# The committed PNGs must be exactly what the generator draws. Sanitizer trees
# build KeltTests only, and so do tools that rebuild just the unit tests: the
# check carries a label of its own.
if(KELT_SANITIZER STREQUAL "")
    add_test(NAME KeltImagesMatchGenerator
        COMMAND KeltImageGenerator --check "${CMAKE_SOURCE_DIR}/resources/images")
    set_tests_properties(KeltImagesMatchGenerator PROPERTIES LABELS images TIMEOUT 120)
endif()

# The editor's golden picture, which the test's update mode rewrites.
target_compile_definitions(KeltTests PRIVATE KELT_GOLDEN_DIR="${CMAKE_SOURCE_DIR}/tests/editor/golden")
