// kova-meldungen: the organiser's console program (see output/QUVCommand.h).
#include "output/QUVCommand.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return kova::app::RunKovaMeldungen(arguments, std::cout, std::cerr);
}
