#include "engine/EchoRecords.h"

#include <string>

#include "engine/Diagnosis.h"

namespace lumidex {
namespace {

ProbeOutcome OutcomeOf(EchoFate fate) {
    switch (fate) {
        case EchoFate::Answered:
            return ProbeOutcome::Ok;
        case EchoFate::TimedOut:
            return ProbeOutcome::Timeout;
        case EchoFate::Unreachable:
            return ProbeOutcome::Unreachable;
        case EchoFate::Failed:
            break;
    }
    return ProbeOutcome::Error;
}

}  // namespace

void RecordEchoes(std::string_view host, const std::vector<EchoTurn>& turns) {
    for (const EchoTurn& turn : turns) {
        const bool answered = turn.fate == EchoFate::Answered;
        RecordProbe({ProbeKind::Icmp, std::string(host), OutcomeOf(turn.fate),
                     answered ? std::optional<double>(turn.rttMs) : std::nullopt, "echo"});
    }
}

}  // namespace lumidex
