#pragma once
// Whether this build runs under AddressSanitizer or ThreadSanitizer, which make
// the code several times slower: the time bounds of tests allow for it. GCC
// says so with __SANITIZE_*__, Clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KZ_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KZ_UNDER_SANITIZER 1
#endif
#endif
#ifndef KZ_UNDER_SANITIZER
#define KZ_UNDER_SANITIZER 0
#endif
