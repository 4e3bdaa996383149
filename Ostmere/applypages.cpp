// The pages that use existing patches, and the fingerprint page.
#include "pages.h"

#include "guithread.h"

CDlgApply::CDlgApply(QWidget* parent) : PageBase(opApplyPatch, u"Apply_", parent) {
    directory = addComboRow("Older Directory");
    directoryBrowse = addFolderBrowse(directory);
    patchFile = addComboRow("Patch File");
    patchBrowse = addFileBrowse(patchFile, FileFilter::patch, false);
    reportFile = addComboRow("XML Diff Report");
    reportBrowse = addFileBrowse(reportFile, FileFilter::report, true);
    ignoreFingerprint = new QCheckBox("Ignore Directory Fingerprint(Not Recomnded)", this);
    addRowWidget(ignoreFingerprint);
    continueOnErrors = new QCheckBox("Continue on Filesystem Errors(Not Recomnded)", this);
    addRowWidget(continueOnErrors);
    viewReport = addViewReportButton(reportFile);
    applyPatch = addActionButton("&Apply Patch");
}

void CDlgApply::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"dir", directory},
                         {u"", directoryBrowse},
                         {u"patch", patchFile},
                         {u"report", reportFile},
                         {u"", patchBrowse},
                         {u"", reportBrowse},
                         {u"", applyPatch},
                         {u"", viewReport},
                         {u"", helpButton},
                         {u"fpignore", ignoreFingerprint},
                         {u"fsignore", continueOnErrors}});
}

EngineJob CDlgApply::prepare(const EngineCalls& calls) {
    // The engine takes continueOnErrors before ignoreFingerprint.
    return [call = calls.applyPatch, dir = text(directory), patch = text(patchFile),
            report = text(reportFile), continueOn = continueOnErrors->isChecked(),
            ignoreFp = ignoreFingerprint->isChecked()](CProgressSink* sink) {
        call(sink, dir, patch, report, continueOn, ignoreFp);
    };
}

CDlgPatchInfo::CDlgPatchInfo(QWidget* parent) : PageBase(opQuerryPatch, u"PatchInfo_", parent) {
    patchFile = addComboRow("Patch File");
    patchBrowse = addFileBrowse(patchFile, FileFilter::patch, false);
    reportFile = addComboRow("XML Diff Report");
    reportBrowse = addFileBrowse(reportFile, FileFilter::report, true);
    viewReport = addViewReportButton(reportFile);
    querryPatch = addActionButton("&Querry Patch");
}

void CDlgPatchInfo::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"patch", patchFile},
                         {u"report", reportFile},
                         {u"", patchBrowse},
                         {u"", reportBrowse},
                         {u"", querryPatch},
                         {u"", viewReport},
                         {u"", helpButton}});
}

EngineJob CDlgPatchInfo::prepare(const EngineCalls& calls) {
    return [call = calls.querryPatch, patch = text(patchFile),
            report = text(reportFile)](CProgressSink* sink) { call(sink, patch, report); };
}

CDlgFinger::CDlgFinger(QWidget* parent) : PageBase(opFingerprint, u"Fingerprint_", parent) {
    directory = addComboRow("Directory");
    directoryBrowse = addFolderBrowse(directory);
    filter = addComboRow("File Ignore Filter");
    result = new QLineEdit(this);
    result->setReadOnly(true);
    addLabelledRow("Fingerprint", result);
    fingerprint = addActionButton("&Fingerprint");
}

void CDlgFinger::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"dir", directory},
                         {u"filter", filter},
                         {u"", directoryBrowse},
                         {u"", fingerprint},
                         {u"", helpButton}});
}

EngineJob CDlgFinger::prepare(const EngineCalls& calls) {
    result->clear();
    return [this, call = calls.fingerprint, dir = text(directory),
            ignore = text(filter)](CProgressSink* sink) {
        const QString found = QString::fromStdU16String(call(sink, dir, ignore));
        runOnGuiThread(result, [this, found] { result->setText(found); });
    };
}
