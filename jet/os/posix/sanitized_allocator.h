// JET_SANITIZED_ALLOCATOR is defined in builds whose allocator is a sanitizer's (AddressSanitizer, ThreadSanitizer,
// MemorySanitizer), which replaces the C library's: tuning the C library's heap means nothing there.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define JET_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define JET_SANITIZED_ALLOCATOR 1
#endif
