// Linked into the stub and the uninstaller only (not into the libraries the tests use): the
// parts of the C++ runtime that these programs reach but do not need, replaced by small ones.
// The static link takes a definition here instead of the runtime's own.
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

#include <bits/functexcept.h>

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
