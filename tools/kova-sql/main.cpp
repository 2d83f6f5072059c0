// kova-sql: command-line shell over the engine.
#include <cstdio>

int main() {
    std::fprintf(stderr, "error: no mode given\n");
    return 1;
}
