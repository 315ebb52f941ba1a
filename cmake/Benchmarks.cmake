# Benchmarks of the audio path and the measurement step, next to libebur128.
# Built with the rest, never run as a test:
#   cmake --build build --target KeltBenchmarks && ./build/KeltBenchmarks

find_package(benchmark REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)

file(GLOB KELT_BENCH_SOURCES CONFIGURE_DEPENDS
    "${CMAKE_SOURCE_DIR}/bench/*.cpp"
    "${CMAKE_SOURCE_DIR}/bench/*.h")

add_executable(KeltBenchmarks ${KELT_BENCH_SOURCES})
kelt_enable_warnings(${KELT_BENCH_SOURCES})
target_include_directories(KeltBenchmarks PRIVATE
    "${CMAKE_SOURCE_DIR}/bench"
    $<TARGET_PROPERTY:Kelt51LE,INCLUDE_DIRECTORIES>)
target_link_libraries(KeltBenchmarks PRIVATE Kelt51LE benchmark::benchmark PkgConfig::EBUR128)
