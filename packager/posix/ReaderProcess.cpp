#include "ReaderProcess.h"

#include "LibmsiReader.h"

namespace ReaderProcess {

PackageFacts read(int fd, const std::string& label) {
    return LibmsiReader::read("/proc/self/fd/" + std::to_string(fd), label);
}

}  // namespace ReaderProcess
