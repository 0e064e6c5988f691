// Clang's thread-safety annotations, so that -Wthread-safety checks which lock guards what.
// Other compilers see nothing. Use them with the annotated Mutex of base/mutex.h: the
// standard library's mutexes carry no annotations.
#pragma once

#if defined(__clang__)
#define VUV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VUV_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VUV_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VUV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VUV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VUV_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) VUV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VUV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VUV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VUV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VUV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VUV_THREAD_ANNOTATION(no_thread_safety_analysis)
