#include "app/CommandLine.h"

#include <cstdio>

namespace trimora {

int runCutCommand(const CutCommand &)
{
    std::fputs("trimora: cutting from the command line is not built yet\n", stderr);
    return 1;
}

} // namespace trimora
