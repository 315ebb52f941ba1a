#pragma once

/** True in a ThreadSanitizer or AddressSanitizer build, where code runs ten
    to twenty times slower: long renders are left to the plain build there. */
#if defined (__SANITIZE_THREAD__) || defined (__SANITIZE_ADDRESS__)
 constexpr bool isInstrumentedBuild = true;
#elif defined (__has_feature)
 #if __has_feature (thread_sanitizer) || __has_feature (address_sanitizer)
  constexpr bool isInstrumentedBuild = true;
 #else
  constexpr bool isInstrumentedBuild = false;
 #endif
#else
 constexpr bool isInstrumentedBuild = false;
#endif

/** True in a ThreadSanitizer build only. */
#if defined (__SANITIZE_THREAD__)
 constexpr bool isThreadSanitizerBuild = true;
#elif defined (__has_feature)
 #if __has_feature (thread_sanitizer)
  constexpr bool isThreadSanitizerBuild = true;
 #else
  constexpr bool isThreadSanitizerBuild = false;
 #endif
#else
 constexpr bool isThreadSanitizerBuild = false;
#endif
