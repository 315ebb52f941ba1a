#pragma once

/** True in a ThreadSanitizer or AddressSanitizer build, where code runs ten
    to twenty times slower: long renders are left to the plain build there. */
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool isInstrumentedBuild = true;
#else
constexpr bool isInstrumentedBuild = false;
#endif
