// The C++ runtime's default terminate handler names the type of the exception
// that escaped, and for that it links the whole demangler into every program:
// a fair share of a setup program that never shows a type name to anyone.
// Defined here, the runtime's own copy and the demangler stay out of the link.
// An escaping exception still ends the process as before, with its message.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    if (const std::exception_ptr error = std::current_exception()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            // Not fprintf: that would link a printf implementation of its own.
            std::fputs("terminate called after throwing an exception: ", stderr);
            std::fputs(e.what(), stderr);
            std::fputs("\n", stderr);
        } catch (...) {
            std::fputs("terminate called after throwing an exception of unknown type\n", stderr);
        }
    } else {
        std::fputs("terminate called without an active exception\n", stderr);
    }
    std::abort();
}

}  // namespace __gnu_cxx
