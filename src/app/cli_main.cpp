#include "app/CliCommands.h"

#include <clocale>

int main(int argc, char** argv) {
    // Month and weekday names follow the user's locale.
    std::setlocale(LC_ALL, "");
    return RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
