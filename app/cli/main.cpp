// tollvane-cli: the headless front end of the engine.
#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: tollvane-cli [--help]\n"
                 "\n"
                 "The engine is being built; transfer commands come with it.\n");
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
    }
    if (argc > 1) {
        PrintUsage(stderr);
        return 2;
    }
    PrintUsage(stdout);
    return 0;
}
