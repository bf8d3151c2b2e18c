#pragma once
// Calls into foreign code (extension DLL functions, COM self-registration) that must not
// take the installer down: a C++ exception or a processor fault (access violation, division
// by zero, any structured exception) that escapes the call becomes a result. An exception
// that the foreign code catches itself is left alone.

#include <type_traits>

// An exception of the foreign code unwinds through the caller's frame to the guard: the
// caller needs the unwind tables that exceptions bring.
#if !defined(__cpp_exceptions)
#error "code that calls foreign code through the guard must be compiled with exceptions"
#endif

#include <windows.h>

namespace vorlatch {

enum class GuardResult {
  kReturned,      // the call returned normally
  kCppException,  // a C++ exception of our own ABI escaped
  kFault,         // a processor fault or another structured exception escaped
};

// Calls fn(context). exceptionCode, when given, receives the code of the structured
// exception behind a kFault (0 otherwise).
GuardResult CallGuarded(void (*fn)(void*), void* context, DWORD* exceptionCode = nullptr);

// The same for any callable without arguments, e.g. a lambda that calls the foreign function.
template <typename Callable>
GuardResult CallGuarded(Callable&& callable, DWORD* exceptionCode = nullptr) {
  using Stored = std::remove_reference_t<Callable>;
  return CallGuarded([](void* context) { (*static_cast<Stored*>(context))(); },
                     const_cast<void*>(static_cast<const void*>(&callable)), exceptionCode);
}

}  // namespace vorlatch
