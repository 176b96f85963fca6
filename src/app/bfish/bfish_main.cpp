#include "app/bfish/BfishCommandLine.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return bfish::RunTool(args, std::cerr, STDIN_FILENO);
}
