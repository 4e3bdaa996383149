// How a run of an engine operation ended, and what the window says about each ending.
#pragma once

#include <QString>
#include <filesystem>
#include <string>

enum class RunEnding { succeeded, failed, cancelled, notVerified };

// The engine reports a failed check of the patched directory only through its status line,
// and still returns normally; this is the one place that recognises it.
bool isUnverifiedApplyStatus(const std::u16string& status);

// Status line after a run that did not succeed; `operation` is the page's tab text.
QString endingStatus(RunEnding ending, const QString& operation);
// Detail line after any run: the ending and the elapsed time ("Completed.  Time:00:00:01").
QString endingDetail(RunEnding ending, const std::u16string& elapsed);
// Text of the warning shown when the patched directory does not match the patch.
QString unverifiedApplyWarning(const QString& directory);

// An output file a run is about to write. A run that is cancelled or fails may leave it half
// written; it is removed only when nothing was at its path before the run started.
class PartialOutput {
  public:
    explicit PartialOutput(const std::u16string& path);
    // True when the run created the file and it has been removed now.
    bool removeIfCreated();
    QString displayPath() const;

  private:
    std::filesystem::path path_;
    bool existedBefore_ = true;
};
