// tessaly-cli: the command-line companion of the window.
#include <cstdio>

int main()
{
    std::fprintf(stderr, "usage: tessaly-cli COMMAND ...\n");
    return 2;
}
