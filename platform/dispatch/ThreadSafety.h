#pragma once

// Clang thread-safety annotations. They expand to nothing on other compilers;
// the clang-tsa preset checks them with -Wthread-safety.

#if defined(__clang__)
#define HW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HW_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) HW_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY HW_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) HW_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) HW_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) HW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) HW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) HW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) HW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) HW_THREAD_ANNOTATION(assert_capability(x))
#define TRY_ACQUIRE(...) HW_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS HW_THREAD_ANNOTATION(no_thread_safety_analysis)
