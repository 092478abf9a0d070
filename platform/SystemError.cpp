#include "platform/SystemError.h"

#include <cstring>

namespace lumidex::platform {

std::string ErrnoText(int error) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which may or may not live in buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

std::string SystemError::Message() const {
    std::string out(step);
    out += ": ";
    out += ErrnoText(error);
    return out;
}

}  // namespace lumidex::platform
