// The cheapest road of an out-of-date entry: a patch from the file the installation holds, or the
// changed range of a package, with the whole file as the fallback in the same run. A shortcut that
// fails costs a log line, never the run.
#include <string>

#include "update/DownloadAttempt.h"
#include "update/PackageRanges.h"
#include "update/PatchRoad.h"
#include "update/UpdateEngine.h"

namespace {

const char kPatchAppliedInfix[] = "  补丁已应用  ";
const char kPatchFailedInfix[] = "  补丁无法使用 ";
const char kRangeFetchedInfix[] = "  只下载变化部分  ";
const char kRangeFailedInfix[] = "  变化部分无法使用 ";
const char kWholeFileSuffix[] = "，下载完整文件";
const char kByteCountSuffix[] = " 字节";

std::string Number(DWORD value)
{
    return std::to_string(static_cast<int>(value));
}

}  // namespace

DWORD CUpdateEngine::FetchEntry(const EntryRoad& road)
{
    const std::string whole = std::to_string(road.signedLength);
    if (const FilePatch* patch = ChooseFilePatch(road, m_strModuleDir)) {
        const DWORD error = FetchByPatch(*this, road, *patch);
        if (error == ERROR_SUCCESS) {
            m_log.WriteLog((road.entry.FileName + kPatchAppliedInfix + std::to_string(patch->Length) + "/" + whole +
                            kByteCountSuffix).c_str());
            return ERROR_SUCCESS;
        }
        m_log.WriteLog((road.entry.FileName + kPatchFailedInfix + Number(error) + kWholeFileSuffix).c_str());
    } else {
        const PackageChanges changes = FetchPackageChanges(*this, road);
        if (changes.tried && changes.error == ERROR_SUCCESS) {
            m_log.WriteLog((road.entry.FileName + kRangeFetchedInfix + std::to_string(changes.fetched) + "/" + whole +
                            kByteCountSuffix).c_str());
            return ERROR_SUCCESS;
        }
        if (changes.tried)
            m_log.WriteLog((road.entry.FileName + kRangeFailedInfix + Number(changes.error) + kWholeFileSuffix).c_str());
    }
    return DownloadFile(road);
}
