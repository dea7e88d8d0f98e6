// Shared by the ThreadSanitizer stand-ins for Qt's functions.
#pragma once

#include <cstdlib>
#include <dlfcn.h>

namespace tsanqt {

// Qt's own definition of a function, by its mangled name; a missing one ends
// the run, since a stand-in that cannot reach Qt's would change behaviour.
template <typename F>
F real(const char* name)
{
    void* f = dlsym(RTLD_NEXT, name);
    if (!f)
        abort();
    return reinterpret_cast<F>(f);
}

}  // namespace tsanqt
