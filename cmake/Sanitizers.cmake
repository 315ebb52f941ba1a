# A sanitizer build instruments everything, JUCE included, so that the
# thread/memory checkers see both sides of every shared access.
if(KELT_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -g -O1)
    add_link_options(-fsanitize=thread)
elseif(KELT_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer -g -O1)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT KELT_SANITIZER STREQUAL "")
    message(FATAL_ERROR "KELT_SANITIZER must be thread, address or empty")
endif()

if(NOT KELT_SANITIZER STREQUAL "")
    # The plug-in binaries and their host tests are not built in sanitizer trees.
    set(KELT_BUILD_HOST_TESTS OFF CACHE BOOL "" FORCE)
    set(KELT_BUILD_BENCHMARKS OFF CACHE BOOL "" FORCE)
endif()
