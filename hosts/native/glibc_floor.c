/* The C library floor of libVemlarTSDNative.so: glibc 2.17.
 *
 * The library is built on a newer Debian whose C library gave some functions
 * new symbol versions since 2.17 (the pthread and dl functions moved into
 * libc in 2.34, the stat family became real functions in 2.33, exp, log and
 * pow were re-versioned in 2.29, fcntl64 appeared in 2.28), and whose static
 * libstdc++ and libgcc reach for functions an older C library lacks
 * (arc4random, getentropy, _dl_find_object, pthread_cond_clockwait,
 * __libc_single_threaded). A library importing any of those does not load
 * where the C library is older, so this file defines each of them inside the
 * library: a definition here wins over the C library's for every object
 * linked in (the driver, SQLite, libstdc++, libgcc), and each one either
 * forwards to the same function at the version 2.17 already had, or does the
 * same work with what 2.17 offers. The version script keeps them all local.
 *
 * tests/hosts/native/check_library.py fails the build's tests when the
 * library imports anything newer than 2.17, so a new dependency on a newer
 * symbol shows up there and is treated here.
 */
#define _GNU_SOURCE 1
/* The plain names are the ones defined here, whatever the build asks of
 * file offsets and time. */
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define FLOOR_LOCAL __attribute__((visibility("hidden")))

/* The version each treated function had in glibc 2.17, per architecture,
 * and the stat interface's version number there. */
#if defined(__x86_64__)
#define V_BASE "GLIBC_2.2.5"
#define V_PTHREAD_CREATE V_BASE
#define V_MUTEXATTR_SETTYPE V_BASE
#define V_DLOPEN V_BASE
#define V_XSTAT64 V_BASE
#define STAT_INTERFACE 1
#elif defined(__i386__)
#define V_BASE "GLIBC_2.0"
#define V_PTHREAD_CREATE "GLIBC_2.1"
#define V_MUTEXATTR_SETTYPE "GLIBC_2.1"
#define V_DLOPEN "GLIBC_2.1"
#define V_XSTAT64 "GLIBC_2.2"
#define STAT_INTERFACE 3
#else
#error "the glibc floor knows x86-64 and i386 only"
#endif

/* floor_NAME is a reference to NAME at the given version. */
#define AT_VERSION(name, version) __asm__(".symver floor_" #name ", " #name "@" version)

/* ---- Functions that kept their behaviour under a new version ---------- */

extern int floor_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
AT_VERSION(pthread_create, V_PTHREAD_CREATE);
FLOOR_LOCAL int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  return floor_pthread_create(thread, attr, start, arg);
}

extern int floor_pthread_join(pthread_t, void**);
AT_VERSION(pthread_join, V_BASE);
FLOOR_LOCAL int pthread_join(pthread_t thread, void** result) { return floor_pthread_join(thread, result); }

extern int floor_pthread_detach(pthread_t);
AT_VERSION(pthread_detach, V_BASE);
FLOOR_LOCAL int pthread_detach(pthread_t thread) { return floor_pthread_detach(thread); }

extern int floor_pthread_once(pthread_once_t*, void (*)(void));
AT_VERSION(pthread_once, V_BASE);
FLOOR_LOCAL int pthread_once(pthread_once_t* once, void (*routine)(void)) { return floor_pthread_once(once, routine); }

extern int floor_pthread_key_create(pthread_key_t*, void (*)(void*));
AT_VERSION(pthread_key_create, V_BASE);
FLOOR_LOCAL int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  return floor_pthread_key_create(key, destructor);
}

/* libstdc++ asks for this one by a weak reference to learn whether threads
 * are available; with the library's own definition they always are, which
 * is true: libpthread is among the libraries it needs. */
extern int floor___pthread_key_create(pthread_key_t*, void (*)(void*));
AT_VERSION(__pthread_key_create, V_BASE);
FLOOR_LOCAL int __pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  return floor___pthread_key_create(key, destructor);
}

extern int floor_pthread_key_delete(pthread_key_t);
AT_VERSION(pthread_key_delete, V_BASE);
FLOOR_LOCAL int pthread_key_delete(pthread_key_t key) { return floor_pthread_key_delete(key); }

extern void* floor_pthread_getspecific(pthread_key_t);
AT_VERSION(pthread_getspecific, V_BASE);
FLOOR_LOCAL void* pthread_getspecific(pthread_key_t key) { return floor_pthread_getspecific(key); }

/* The header marks the value as never read through; passing it on is no
 * read either, which the compiler cannot see. */
extern int floor_pthread_setspecific(pthread_key_t, const void*);
AT_VERSION(pthread_setspecific, V_BASE);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
FLOOR_LOCAL int pthread_setspecific(pthread_key_t key, const void* value) {
  return floor_pthread_setspecific(key, value);
}
#pragma GCC diagnostic pop

extern int floor_pthread_mutex_trylock(pthread_mutex_t*);
AT_VERSION(pthread_mutex_trylock, V_BASE);
FLOOR_LOCAL int pthread_mutex_trylock(pthread_mutex_t* mutex) { return floor_pthread_mutex_trylock(mutex); }

extern int floor_pthread_mutexattr_init(pthread_mutexattr_t*);
AT_VERSION(pthread_mutexattr_init, V_BASE);
FLOOR_LOCAL int pthread_mutexattr_init(pthread_mutexattr_t* attr) { return floor_pthread_mutexattr_init(attr); }

extern int floor_pthread_mutexattr_destroy(pthread_mutexattr_t*);
AT_VERSION(pthread_mutexattr_destroy, V_BASE);
FLOOR_LOCAL int pthread_mutexattr_destroy(pthread_mutexattr_t* attr) { return floor_pthread_mutexattr_destroy(attr); }

extern int floor_pthread_mutexattr_settype(pthread_mutexattr_t*, int);
AT_VERSION(pthread_mutexattr_settype, V_MUTEXATTR_SETTYPE);
FLOOR_LOCAL int pthread_mutexattr_settype(pthread_mutexattr_t* attr, int kind) {
  return floor_pthread_mutexattr_settype(attr, kind);
}

extern void* floor_dlopen(const char*, int);
AT_VERSION(dlopen, V_DLOPEN);
FLOOR_LOCAL void* dlopen(const char* file, int mode) { return floor_dlopen(file, mode); }

extern void* floor_dlsym(void*, const char*);
AT_VERSION(dlsym, V_BASE);
FLOOR_LOCAL void* dlsym(void* handle, const char* name) { return floor_dlsym(handle, name); }

extern int floor_dlclose(void*);
AT_VERSION(dlclose, V_BASE);
FLOOR_LOCAL int dlclose(void* handle) { return floor_dlclose(handle); }

extern char* floor_dlerror(void);
AT_VERSION(dlerror, V_BASE);
FLOOR_LOCAL char* dlerror(void) { return floor_dlerror(); }

/* exp, log and pow gained versions in 2.29 that drop the old error-handling
 * wrapper; results are the same, errno is set as before. */
extern double floor_exp(double);
AT_VERSION(exp, V_BASE);
FLOOR_LOCAL double exp(double x) { return floor_exp(x); }

extern double floor_log(double);
AT_VERSION(log, V_BASE);
FLOOR_LOCAL double log(double x) { return floor_log(x); }

extern double floor_pow(double, double);
AT_VERSION(pow, V_BASE);
FLOOR_LOCAL double pow(double x, double y) { return floor_pow(x, y); }

/* fcntl64 (2.28) is what the headers name fcntl as once file offsets are 64
 * bits wide. Every command the driver and SQLite use takes at most one
 * pointer-sized argument, which is how the C library itself reads it; with
 * 64-bit offsets the lock commands are the ...LK64 ones, which the old fcntl
 * has always passed to the kernel as they are. */
extern int floor_fcntl(int, int, ...);
AT_VERSION(fcntl, V_BASE);
static int ForwardFcntl(int fd, int command, va_list arguments) {
  void* argument = va_arg(arguments, void*);
  return floor_fcntl(fd, command, argument);
}
FLOOR_LOCAL int fcntl64(int fd, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  int result = ForwardFcntl(fd, command, arguments);
  va_end(arguments);
  return result;
}
#if defined(__i386__)
/* On i386 fcntl itself was re-versioned in 2.28. */
FLOOR_LOCAL int fcntl(int fd, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  int result = ForwardFcntl(fd, command, arguments);
  va_end(arguments);
  return result;
}
#endif

/* Until 2.33 the stat family were inline wrappers around __xstat and its
 * kin, which take the structure's interface number first; those entry
 * points remain in every later C library. */
extern int floor___xstat(int, const char*, struct stat*);
AT_VERSION(__xstat, V_BASE);
extern int floor___lxstat(int, const char*, struct stat*);
AT_VERSION(__lxstat, V_BASE);
extern int floor___fxstat(int, int, struct stat*);
AT_VERSION(__fxstat, V_BASE);
extern int floor___xstat64(int, const char*, struct stat64*);
AT_VERSION(__xstat64, V_XSTAT64);
extern int floor___lxstat64(int, const char*, struct stat64*);
AT_VERSION(__lxstat64, V_XSTAT64);
extern int floor___fxstat64(int, int, struct stat64*);
AT_VERSION(__fxstat64, V_XSTAT64);

FLOOR_LOCAL int stat(const char* path, struct stat* buffer) { return floor___xstat(STAT_INTERFACE, path, buffer); }
FLOOR_LOCAL int lstat(const char* path, struct stat* buffer) { return floor___lxstat(STAT_INTERFACE, path, buffer); }
FLOOR_LOCAL int fstat(int fd, struct stat* buffer) { return floor___fxstat(STAT_INTERFACE, fd, buffer); }
FLOOR_LOCAL int stat64(const char* path, struct stat64* buffer) {
  return floor___xstat64(STAT_INTERFACE, path, buffer);
}
FLOOR_LOCAL int lstat64(const char* path, struct stat64* buffer) {
  return floor___lxstat64(STAT_INTERFACE, path, buffer);
}
FLOOR_LOCAL int fstat64(int fd, struct stat64* buffer) { return floor___fxstat64(STAT_INTERFACE, fd, buffer); }

/* ---- Functions 2.17 does not have ------------------------------------- */

/* libstdc++ skips atomic reference counting while this says the process has
 * one thread. Zero ("maybe more") is always a true answer; it only costs
 * the atomic operations. */
FLOOR_LOCAL char __libc_single_threaded = 0;

/* The kernel's random source (getrandom, Linux 3.17), or /dev/urandom on an
 * older kernel. At most 256 bytes, as the C library's own. */
static int ReadUrandom(unsigned char* buffer, size_t length) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  while (length > 0) {
    ssize_t got = read(fd, buffer, length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      close(fd);
      errno = EIO;
      return -1;
    }
    buffer += got;
    length -= (size_t)got;
  }
  close(fd);
  return 0;
}

FLOOR_LOCAL int getentropy(void* buffer, size_t length) {
  if (length > 256) {
    errno = EIO;
    return -1;
  }
  unsigned char* next = buffer;
  while (length > 0) {
    long got = syscall(SYS_getrandom, next, length, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSYS) return ReadUrandom(next, length);
      return -1;
    }
    next += got;
    length -= (size_t)got;
  }
  return 0;
}

/* The C library's arc4random cannot fail either: with no random source at
 * all the process ends. */
FLOOR_LOCAL uint32_t arc4random(void) {
  uint32_t value;
  if (getentropy(&value, sizeof value) != 0) abort();
  return value;
}

/* A wait until a deadline on the given clock, as a wait until the same
 * moment on the real-time clock, which pthread_cond_timedwait takes. The
 * caller's clock decides whether the time is up, so a jump of the real-time
 * clock can at most end the wait early, which a waiter must expect anyway. */
FLOOR_LOCAL int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
                                       const struct timespec* deadline) {
  if (clock != CLOCK_REALTIME && clock != CLOCK_MONOTONIC) return EINVAL;
  if (deadline->tv_nsec < 0 || deadline->tv_nsec >= 1000000000L) return EINVAL;
  if (clock == CLOCK_REALTIME) return pthread_cond_timedwait(condition, mutex, deadline);
  struct timespec now_clock, now_real;
  clock_gettime(clock, &now_clock);
  clock_gettime(CLOCK_REALTIME, &now_real);
  struct timespec real_deadline;
  real_deadline.tv_sec = now_real.tv_sec + (deadline->tv_sec - now_clock.tv_sec);
  long nsec = now_real.tv_nsec + (deadline->tv_nsec - now_clock.tv_nsec);
  while (nsec < 0) {
    nsec += 1000000000L;
    real_deadline.tv_sec -= 1;
  }
  while (nsec >= 1000000000L) {
    nsec -= 1000000000L;
    real_deadline.tv_sec += 1;
  }
  real_deadline.tv_nsec = nsec;
  return pthread_cond_timedwait(condition, mutex, &real_deadline);
}

/* The unwinder asks which loaded object holds an address and where that
 * object's exception-handling table is. dl_iterate_phdr answers the same
 * question in every C library; the unwinder of libgcc used it before
 * _dl_find_object existed. */
struct FindObjectQuery {
  uintptr_t address;
  struct dl_find_object* result;
};

static int FindObjectInModule(struct dl_phdr_info* info, size_t size, void* data) {
  struct FindObjectQuery* query = data;
  uintptr_t lowest = UINTPTR_MAX, highest = 0;
  int holds_address = 0;
  const ElfW(Phdr)* eh_frame = NULL;
  const ElfW(Phdr)* dynamic = NULL;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
    if (segment->p_type == PT_LOAD) {
      uintptr_t start = info->dlpi_addr + segment->p_vaddr;
      uintptr_t end = start + segment->p_memsz;
      if (query->address >= start && query->address < end) holds_address = 1;
      if (start < lowest) lowest = start;
      if (end > highest) highest = end;
    } else if (segment->p_type == PT_GNU_EH_FRAME) {
      eh_frame = segment;
    } else if (segment->p_type == PT_DYNAMIC) {
      dynamic = segment;
    }
  }
  if (!holds_address) return 0;

  struct dl_find_object* result = query->result;
  result->dlfo_flags = 0;
  result->dlfo_map_start = (void*)lowest;
  result->dlfo_map_end = (void*)highest;
  result->dlfo_link_map = NULL;
  result->dlfo_eh_frame = eh_frame != NULL ? (void*)(info->dlpi_addr + eh_frame->p_vaddr) : NULL;
#if DLFO_STRUCT_HAS_EH_DBASE
  /* Data-relative entries count from the object's GOT, whose address the
   * loader has already relocated in the dynamic section. */
  result->dlfo_eh_dbase = NULL;
  if (dynamic != NULL) {
    for (const ElfW(Dyn)* entry = (const ElfW(Dyn)*)(info->dlpi_addr + dynamic->p_vaddr); entry->d_tag != DT_NULL;
         ++entry) {
      if (entry->d_tag == DT_PLTGOT) {
        result->dlfo_eh_dbase = (void*)entry->d_un.d_ptr;
        break;
      }
    }
  }
#else
  (void)dynamic;
#endif
  return 1;
}

FLOOR_LOCAL int _dl_find_object(void* address, struct dl_find_object* result) {
  struct FindObjectQuery query = {(uintptr_t)address, result};
  return dl_iterate_phdr(FindObjectInModule, &query) > 0 ? 0 : -1;
}
