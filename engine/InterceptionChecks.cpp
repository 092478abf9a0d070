// The problems of a network that lies, added beside the rows they explain. Nothing here
// touches a row's verdict, the log or the findings: a portal makes every connect succeed, so
// the specified rows keep saying what they always said, and these problems say why.
#include "engine/CheckEngine.h"
#include "engine/Diagnosis.h"
#include "engine/InterceptionFindings.h"

namespace lumidex {
namespace {

enum ItemId { kHostsFile = 13, kListService = 16 };

}  // namespace

std::string PortalNotesLine(const std::optional<PortalFinding>& portal) {
    if (!portal) {
        return {};
    }
    return "\r\n检测到网络需要登录认证(" + portal->host + ")";
}

void NoteResolverFinding(CheckEngine& engine, const ResolverFinding& finding) {
    if (finding.nonexistentNameAddresses.empty()) {
        return;
    }
    NoteProblem(
        MakeProblem(ProblemCode::DnsAnswersNonexistentNames, finding.nonexistentNameAddresses));
    if (finding.hijackedNames.empty()) {
        return;
    }
    std::string addresses;
    for (const std::string& address : finding.nonexistentNameAddresses) {
        addresses += (addresses.empty() ? "" : ",") + address;
    }
    TheRunDiagnosis().AddProblem(
        engine.FindItemRow(kHostsFile),
        MakeProblem(ProblemCode::ProductNamesHijacked, finding.hijackedNames, addresses));
}

void NotePortalFinding(CheckEngine& engine, const std::optional<PortalFinding>& portal) {
    engine.Portal() = portal;
    if (portal) {
        NoteProblem(MakeProblem(ProblemCode::CaptivePortal, {portal->host}, portal->url));
    }
}

void NoteChannelListFailure(CheckEngine& engine) {
    if (const std::optional<PortalFinding>& portal = engine.Portal()) {
        TheRunDiagnosis().AddProblem(
            engine.FindItemRow(kListService),
            MakeProblem(ProblemCode::ChannelListIntercepted, {portal->host}, portal->url));
    }
}

}  // namespace lumidex
