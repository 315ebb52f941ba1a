# Warnings for our own sources only; JUCE's module sources compile in the same
# targets and are left with JUCE's own settings.
set(KELT_WARNING_FLAGS
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference
    -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough
    # JUCE's headers count as system headers here, so only our code is checked.
    "-isystem${KELT_JUCE_MODULES_DIR}")

# The test script turns them into errors, so a warning cannot land unseen.
option(KELT_WARNINGS_AS_ERRORS "Treat warnings in the project's own sources as errors" OFF)
if(KELT_WARNINGS_AS_ERRORS)
    list(APPEND KELT_WARNING_FLAGS -Werror)
endif()

function(kelt_enable_warnings)
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${KELT_WARNING_FLAGS}")
endfunction()
