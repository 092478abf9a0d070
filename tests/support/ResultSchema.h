// lumidex-console --json output checked against the shipped schema
// (docs/lumidex-result.schema.json) by tests/support/validate-result, which uses Debian's
// python3-jsonschema. Needs LUMIDEX_VALIDATE_RESULT and LUMIDEX_RESULT_SCHEMA defined (the
// tests' CMakeLists give them).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/RunProcess.h"

namespace lumidex::testing {

// The validator's messages for jsonText, written to file first; empty when it is valid.
inline std::string ResultSchemaErrors(const std::string& jsonText,
                                      const std::filesystem::path& file) {
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << jsonText;
        if (!out.flush()) {
            return "cannot write " + file.string();
        }
    }
    const ProcessResult result =
        RunProcess(LUMIDEX_VALIDATE_RESULT, {LUMIDEX_RESULT_SCHEMA, file.string()}, {},
                   std::chrono::seconds(60));
    if (result.exitCode == 0) {
        return {};
    }
    return "schema validation failed (exit " + std::to_string(result.exitCode) +
           "): " + result.err + result.out;
}

}  // namespace lumidex::testing
