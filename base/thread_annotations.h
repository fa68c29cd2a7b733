// Clang's thread-safety attributes, so that each lock contract is written where the code is: what
// a mutex guards (GUARDED_BY), what a function needs held (REQUIRES) and what it takes or lets go
// (TRY_ACQUIRE, RELEASE). The build with clang and -Wthread-safety checks them; other
// compilers see nothing.
#ifndef KOVA_BASE_THREAD_ANNOTATIONS_H
#define KOVA_BASE_THREAD_ANNOTATIONS_H

#if defined(__clang__)
#define KOVA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KOVA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KOVA_THREAD_ANNOTATION(capability(x))
#define GUARDED_BY(x) KOVA_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) KOVA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KOVA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RELEASE(...) KOVA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) KOVA_THREAD_ANNOTATION(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS KOVA_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // KOVA_BASE_THREAD_ANNOTATIONS_H
