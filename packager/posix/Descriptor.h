#pragma once

#include <unistd.h>

// An owned file descriptor, closed on every way out unless released.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd; }
    int release() {
        const int kept = fd;
        fd = -1;
        return kept;
    }
    void reset(int to = -1) {
        if (fd >= 0) {
            close(fd);
        }
        fd = to;
    }

private:
    int fd;
};
