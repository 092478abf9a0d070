// Builds the text of a Wine hive file (system.reg) key by key, so tests write registry
// fixtures with plain single-backslash paths.
#pragma once

#include <string>

#include "support/FixturePrefix.h"

namespace lumidex::testing {

class HiveWriter {
public:
    HiveWriter()
        : m_text("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n") {}

    HiveWriter& Key(const std::string& path) {
        m_text += "\n[" + HiveQuoted(path) + "] 1700000000\n";
        return *this;
    }
    // name "" is the key's default value.
    HiveWriter& Text(const std::string& name, const std::string& value) {
        m_text += (name.empty() ? std::string("@") : "\"" + HiveQuoted(name) + "\"") + "=\"" +
                  HiveQuoted(value) + "\"\n";
        return *this;
    }
    HiveWriter& Dword(const std::string& name, const std::string& hex) {
        m_text += "\"" + HiveQuoted(name) + "\"=dword:" + hex + "\n";
        return *this;
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

}  // namespace lumidex::testing
