// Linked into the stub and the uninstaller only (not into the libraries the tests use): the
// parts of the C++ runtime (and of the libraries under it) that these programs reach but do not
// need, replaced by small ones. The static link takes a definition here instead of theirs.
//
// An exception that nothing catches ends the program through the terminate handler. The
// runtime's default one writes the exception's demangled type to the standard error stream
// (which a GUI program does not have) before it aborts, and so brings a name demangler and
// the C library's formatted output into every program. This one aborts at once, which is all
// that the user of a GUI program sees of the default one either.
//
// The standard containers report their errors through the __throw_ functions. The runtime's
// ones build exception objects that carry a second, older kind of string with all its code.
// Here a request for more elements than a container can hold is a request for memory that
// cannot be had (std::bad_alloc, which the programs handle where it can happen); an index out
// of range or a null string is a defect of the program and ends it.

#include <windows.h>

#include <bits/functexcept.h>
#include <pthread.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() {
  throw std::bad_alloc();
}

void __throw_bad_array_new_length() {
  throw std::bad_array_new_length();
}

void __throw_length_error(const char*) {
  throw std::bad_alloc();
}

void __throw_logic_error(const char*) {
  std::abort();
}

void __throw_out_of_range_fmt(const char*, ...) {
  std::abort();
}

}  // namespace std

// The C++ runtime of these compilers reaches its threads through a POSIX threads library:
// the unwinder locks its table of frames, the exception runtime its emergency pool and each
// thread's exception state. The library brings its whole thread machinery with it (some 30 KB
// on i686) for these few calls, which the system provides directly. A mutex is the runtime's
// static initializer until its first use makes it a critical section (which also serves the
// recursive kind); a once-flag runs its function on the first thread and holds the others back
// until it has run. A key's destructor is not run at thread exit: only the programs' own
// thread holds keys, and its values go with the process.
extern "C" {

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*) {
  *mutex = PTHREAD_MUTEX_INITIALIZER;
  return 0;
}

int pthread_mutex_destroy(pthread_mutex_t* mutex) {
  const intptr_t value = *mutex;
  if (value > 0) {
    auto* section = reinterpret_cast<CRITICAL_SECTION*>(value);
    DeleteCriticalSection(section);
    HeapFree(GetProcessHeap(), 0, section);
  }
  *mutex = PTHREAD_MUTEX_INITIALIZER;
  return 0;
}

}  // extern "C"

namespace {

CRITICAL_SECTION* SectionOf(pthread_mutex_t* mutex) {
  intptr_t value = __atomic_load_n(mutex, __ATOMIC_ACQUIRE);
  if (value < 0) {
    auto* made =
        static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
    if (made == nullptr) {
      std::abort();  // the runtime cannot go on without its lock
    }
    InitializeCriticalSection(made);
    if (__atomic_compare_exchange_n(mutex, &value, reinterpret_cast<intptr_t>(made), false,
                                    __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
      return made;
    }
    DeleteCriticalSection(made);  // another thread made it first: `value` holds its section
    HeapFree(GetProcessHeap(), 0, made);
  }
  return reinterpret_cast<CRITICAL_SECTION*>(value);
}

}  // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  EnterCriticalSection(SectionOf(mutex));
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  LeaveCriticalSection(SectionOf(mutex));
  return 0;
}

int pthread_once(pthread_once_t* once, void (*function)(void)) {
  constexpr pthread_once_t kRunning = 1;
  constexpr pthread_once_t kDone = 2;
  pthread_once_t state = PTHREAD_ONCE_INIT;
  if (__atomic_compare_exchange_n(once, &state, kRunning, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE)) {
    function();
    __atomic_store_n(once, kDone, __ATOMIC_RELEASE);
    return 0;
  }
  while (__atomic_load_n(once, __ATOMIC_ACQUIRE) != kDone) {
    Sleep(0);
  }
  return 0;
}

int pthread_key_create(pthread_key_t* key, void (*)(void*)) {
  const DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) {
    return EAGAIN;
  }
  *key = slot;
  return 0;
}

void* pthread_getspecific(pthread_key_t key) {
  // TlsGetValue clears the last error on success: the runtime asks in the middle of code
  // whose caller may still look at it.
  const DWORD error = GetLastError();
  void* value = TlsGetValue(key);
  SetLastError(error);
  return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  return TlsSetValue(key, const_cast<void*>(value)) ? 0 : ENOMEM;
}

}  // extern "C"

// zlib's inflation asks for a CRC-32 only for gzip streams, which the programs never read
// (packages hold zlib streams, checked with Adler-32). Its own CRC-32 carries 8 KB of tables
// for speed on such streams; this one gives the same values, bit by bit.
extern "C" uLong crc32(uLong crc, const Bytef* buf, uInt len) {
  if (buf == nullptr) {
    return 0;
  }
  std::uint32_t value = ~static_cast<std::uint32_t>(crc);
  for (uInt i = 0; i < len; ++i) {
    value ^= buf[i];
    for (int bit = 0; bit < 8; ++bit) {
      value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
    }
  }
  return ~value;
}
