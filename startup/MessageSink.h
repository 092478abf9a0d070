// How start-up and the dialogs tell the user something that needs an answer: the desktop
// front end shows a message box, the console prints to stderr.
#pragma once

#include <string>

namespace lumidex {

enum class MessageIcon { Error, Information };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
};

}  // namespace lumidex
