#include "runending.h"

#include "OstmereEngine.h"

#include <system_error>

namespace fs = std::filesystem;

bool isUnverifiedApplyStatus(const std::u16string& status) {
    return status == u"After patch has been aplied fingerprints do not match." ||
           status == u"After patch has been applied the permission bits do not match.";
}

QString endingStatus(RunEnding ending, const QString& operation) {
    switch (ending) {
    case RunEnding::failed:
        return operation + " failed.";
    case RunEnding::cancelled:
        return "Cancelled.";
    case RunEnding::notVerified:
        return QString::fromStdU16String(u"After patch has been aplied fingerprints do not match.");
    case RunEnding::succeeded:
        break;
    }
    return QString();
}

QString endingDetail(RunEnding ending, const std::u16string& elapsed) {
    const QString time = "  Time:" + QString::fromStdU16String(elapsed);
    switch (ending) {
    case RunEnding::succeeded:
        return "Completed." + time;
    case RunEnding::failed:
        return "Failed." + time;
    case RunEnding::cancelled:
        return "Cancelled." + time;
    case RunEnding::notVerified:
        return "Not verified." + time;
    }
    return time;
}

QString unverifiedApplyWarning(const QString& directory) {
    return "The patch was applied, but the directory does not match the newer state the patch "
           "was made for:\n" +
           directory +
           "\n\nAfter patch has been aplied fingerprints do not match.\n\nItems the patch could "
           "not "
           "change (with \"Continue on Filesystem Errors\") or changes made to the directory "
           "while the patch was applied can cause this.";
}

PartialOutput::PartialOutput(const std::u16string& path) {
    if (path.empty())
        return;
    path_ = fs::path(utf16ToUtf8(path));
    std::error_code error;
    // A dangling link counts as something that was there.
    const fs::file_status before = fs::symlink_status(path_, error);
    existedBefore_ = error ? before.type() != fs::file_type::not_found : fs::exists(before);
}

bool PartialOutput::removeIfCreated() {
    if (existedBefore_)
        return false;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(path_, error)))
        return false;
    return fs::remove(path_, error);
}

QString PartialOutput::displayPath() const {
    return QString::fromStdString(path_.string());
}
