#include "platform/Fatal.h"

#include <cstdio>
#include <cstdlib>

void FatalError(const char* message)
{
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    std::abort();
}
