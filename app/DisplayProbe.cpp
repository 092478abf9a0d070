#include "app/DisplayProbe.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>

namespace lumidex {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Tries the X server the way the window's platform plugin will, through the same client
// library, loaded only for this question.
bool CanOpenX(const std::string& display, std::string& why) {
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        why = "the X client library is not installed";
        return false;
    }
    auto connect = reinterpret_cast<Connect>(::dlsym(library, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(::dlsym(library, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(::dlsym(library, "xcb_disconnect"));
    bool opened = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(display.c_str(), nullptr);
        opened = connection != nullptr && hasError(connection) == 0;
        if (connection != nullptr) {
            disconnect(connection);
        }
    }
    ::dlclose(library);
    if (!opened) {
        why = "cannot open display " + display;
    }
    return opened;
}

}  // namespace

bool CanOpenDisplay(std::string& why) {
    const std::string platform = Env("QT_QPA_PLATFORM");
    // A platform chosen by name that needs no X server (offscreen, vnc, ...) is trusted.
    if (!platform.empty() && platform.find("xcb") == std::string::npos &&
        platform.find("wayland") == std::string::npos) {
        return true;
    }
    const std::string display = Env("DISPLAY");
    if (display.empty()) {
        why = "no display (DISPLAY is not set)";
        return false;
    }
    return CanOpenX(display, why);
}

}  // namespace lumidex
