// The tool started with the reader's argument hands over to the reader
// program, descriptors and all: the tool itself never loads the installer
// library.

#include "ReaderMode.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "ReaderProcess.h"

namespace ReaderMode {

bool requested(int argc, char** argv) {
    return argc >= 2 && std::strcmp(argv[1], argument) == 0;
}

int run(int, char** argv) {
    const std::string& program = ReaderProcess::program();
    argv[0] = const_cast<char*>(program.c_str());
    execv(program.c_str(), argv);
    return 2;
}

}  // namespace ReaderMode
