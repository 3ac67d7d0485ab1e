// The dialog's note on a node it may not open: standard error, the one place a person can read
// why a box that is plugged in shows as absent.
#include <cerrno>
#include <cstdio>

#include "platform/linux/hidraw/hidraw_denied.h"

void SayNodeDenied(const char* node, int error) {
    const int saved = errno;
    const std::string advice = DeniedNodeAdvice(node, error);
    if (!advice.empty()) std::fprintf(stderr, "%s\n", advice.c_str());
    errno = saved;
}
