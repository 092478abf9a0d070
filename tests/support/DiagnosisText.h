// A row's diagnosis as short texts a table can hold: "severity code target,target (detail)"
// per problem and "kind step outcome[ rtt]" per probe (targets of probes left out, as tests
// often probe ephemeral ports).
#pragma once

#include <string>
#include <vector>

#include "engine/Diagnosis.h"

namespace lumidex::testing {

inline std::string ProblemText(const Problem& problem) {
    std::string text =
        std::string(SeverityName(problem.severity)) + " " + std::string(InfoOf(problem.code).name);
    for (std::size_t i = 0; i < problem.targets.size(); ++i) {
        text += (i == 0 ? " " : ",") + problem.targets[i];
    }
    if (!problem.detail.empty()) {
        text += " (" + problem.detail + ")";
    }
    return text;
}

inline std::vector<std::string> ProblemTexts(const RowDiagnosis& row) {
    std::vector<std::string> texts;
    for (const Problem& problem : row.problems) {
        texts.push_back(ProblemText(problem));
    }
    return texts;
}

inline std::vector<std::string> ProbeTexts(const RowDiagnosis& row) {
    std::vector<std::string> texts;
    for (const ProbeRecord& probe : row.probes) {
        texts.push_back(std::string(ProbeKindName(probe.kind)) + " " + probe.step + " " +
                        std::string(ProbeOutcomeName(probe.outcome)) + (probe.rttMs ? " rtt" : ""));
    }
    return texts;
}

// While it lives, records without a row of their own land on a fresh row of their own.
class DiagnosisCapture {
public:
    static constexpr int kRow = 7;
    DiagnosisCapture() {
        TheRunDiagnosis().Reset();
        TheRunDiagnosis().SetCurrentRow(kRow);
    }
    ~DiagnosisCapture() { TheRunDiagnosis().Reset(); }
    DiagnosisCapture(const DiagnosisCapture&) = delete;
    DiagnosisCapture& operator=(const DiagnosisCapture&) = delete;

    RowDiagnosis Row() const { return TheRunDiagnosis().Row(kRow); }
    std::vector<std::string> Problems() const { return ProblemTexts(Row()); }
    std::vector<std::string> Probes() const { return ProbeTexts(Row()); }
};

}  // namespace lumidex::testing
