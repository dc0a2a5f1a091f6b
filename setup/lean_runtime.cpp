// Keeps the C++ runtime that SETUP.EXE links statically small. The extraction engine unwinds
// with an exception that it always catches itself, so nothing ever reaches std::terminate; the
// default verbose terminate handler would still pull in the name demangler and printf
// (about 75 KB). This definition takes the place of the library's own.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
