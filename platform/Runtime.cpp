// Pieces of the C++ runtime replaced by smaller ones, so that what the exe
// carries is mostly the launcher (the exe is read from the disc in full at
// every start).
#include <cstdlib>
#include <exception>
#include <new>

// The runtime's default terminate handler names the uncaught exception's type
// on stderr, which a windowed program does not have, and pulls the demangler
// and much of the I/O library into the exe to do it. This one only ends the
// program, as that handler does after its message.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}
