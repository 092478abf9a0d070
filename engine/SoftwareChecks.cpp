// The basic software checks: rows 8 to 12, the software the streaming client plays through.
#include <cstdlib>
#include <string>

#include "engine/CheckEngine.h"
#include "engine/DiagLog.h"
#include "engine/Diagnosis.h"
#include "engine/FindingsText.h"

namespace lumidex {
namespace {

constexpr int kSoftwareProgressRange = 6;
constexpr int kWmpMinimumMajor = 9;

enum ItemId { kOs = 8, kWmpVersion, kAsfAssociation, kAsxAssociation, kXpSp2Patch };

// The major version: the number before the first dot, 0 for an empty or odd text.
int MajorVersion(const std::string& version) {
    return std::atoi(version.substr(0, version.find('.')).c_str());
}

struct Association {
    int id;
    const char* extension;
    const char* statusText;
    const char* noProgram;
    const char* otherProgramFinding;
    ProblemCode noProgramCode;
    ProblemCode otherProgramCode;  // the program is its target
};

constexpr Association kAssociations[] = {
    {kAsfAssociation, ".asf", "asf文件关联...", "asf文件没有关联",
     "asf文件关联程序:", ProblemCode::AsfNotAssociated, ProblemCode::AsfNotAssociated},
    {kAsxAssociation, ".asx", "asx文件关联...", "asx文件没有关联",
     "asx文件关联程序:", ProblemCode::AsxNotAssociated, ProblemCode::AsxOtherPlayer},
};

}  // namespace

void CheckEngine::RunSoftwareChecks(SoftwareProbes& probes) {
    SetProgressRange(kSoftwareProgressRange);
    SetStatusText("基本软件检测...");
    const std::string osName = probes.GetOsName();
    // Every problem of these rows was read from one prefix, which it names as its last target.
    const std::string prefix = probes.PrefixPath();
    const auto inPrefix = [&prefix](std::vector<std::string> targets) {
        if (!prefix.empty()) {
            targets.push_back(prefix);
        }
        return targets;
    };

    int row = BeginItem(kOs, "操作系统...");
    if (row != -1) {
        SetVerdict(row, osName, CheckStatus::Ok);
        Log(osName);
        AddFinding(osName);
        if (osName.empty()) {
            NoteProblem(MakeProblem(ProblemCode::OsUnknown, inPrefix({})));
        }
        for (Problem& problem : probes.ClientProblems()) {
            NoteProblem(std::move(problem));
        }
    }
    SetProgressPos(1);

    row = BeginItem(kWmpVersion, "WMP版本号...");
    if (row != -1) {
        const std::string version = probes.WmpVersion();
        std::string line = "WMP版本号:" + version;
        CheckStatus status = CheckStatus::Ok;
        if (MajorVersion(version) < kWmpMinimumMajor) {
            // Counted as both: the summary's error count includes an outdated player.
            ++m_counters.errorCount;
            ++m_counters.warningCount;
            line = "版本号低于9，请下载WMP9以上版本。您安装的" + line;
            status = CheckStatus::Warning;
            if (version.empty()) {
                NoteProblem(MakeProblem(ProblemCode::PlayerMissing, inPrefix({})));
            } else {
                NoteProblem(MakeProblem(ProblemCode::PlayerTooOld, inPrefix({}), version));
            }
        }
        SetVerdict(row, version, status);
        Log(line);
        AddFinding(line);
    }
    SetProgressPos(2);

    const std::string wmpPath = probes.WmpPath();
    int position = 2;
    for (const Association& item : kAssociations) {
        row = BeginItem(item.id, item.statusText);
        // An unknown player path matches nothing, so the program really registered is shown.
        if (!wmpPath.empty() && probes.IsAssociatedWith(item.extension, wmpPath)) {
            SetVerdict(row, "已与WMP关联", CheckStatus::Ok);
        } else if (const std::string program = probes.GetAssociatedProgram(item.extension);
                   !program.empty()) {
            const std::string detail = "关联程序:" + program;
            SetVerdict(row, detail, CheckStatus::Warning);
            Log(detail);
            AddFinding(item.otherProgramFinding + detail);
            ++m_counters.warningCount;
            NoteProblem(MakeProblem(item.otherProgramCode, inPrefix({program})));
        } else {
            ReportProblem(row, item.noProgram, CheckStatus::Error);
            NoteProblem(MakeProblem(item.noProgramCode, inPrefix({})));
        }
        SetProgressPos(++position);
    }

    if (StopIfRequested()) {
        return;
    }
    if (probes.HasXpSp2Row()) {
        BeginItem(kXpSp2Patch, "xpsp2补丁...");
        probes.RunXpSp2PatchStep(*this);
        SetProgressPos(5);
    }
    StopIfRequested();
}

}  // namespace lumidex
