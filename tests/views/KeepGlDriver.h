#pragma once

#include <dlfcn.h>

// Mesa unloads its software GL driver when the display closes; its
// process-lifetime allocations then show up as leaks of an unknown module
// that no suppression can name. Keeping the driver loaded lets them match.
inline void keepGlDriverLoaded()
{
    (void)dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_LAZY | RTLD_NODELETE);
}
