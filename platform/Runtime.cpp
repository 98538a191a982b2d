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

// std::string and std::vector report a request they cannot meet through these.
// The runtime's own versions throw std::length_error and std::out_of_range,
// whose messages pull in a second, copy-on-write string implementation and
// the code around it. The launcher catches only with catch (...), so the
// exception's type carries nothing here. Only the functions the launcher's
// code calls are replaced: should it come to need another one, the runtime's
// file of them comes along and the link fails on the duplicates, rather than
// some exception silently changing type.
namespace std {
void __throw_bad_alloc()
{
    throw bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw bad_array_new_length();
}

void __throw_length_error(const char*)
{
    throw bad_alloc();
}

void __throw_out_of_range_fmt(const char*, ...)
{
    throw exception();
}
}
