// The desktop program: everything from start to end is in ProgramStart.
#include "ui/ProgramStart.h"

int main(int argc, char* argv[]) {
    return RunDesktopProgram(argc, argv);
}
