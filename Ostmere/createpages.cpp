// The pages that create patches and vaults.
#include "pages.h"

CDlgCrPatch::CDlgCrPatch(QWidget* parent) : PageBase(opCreatePatch, u"CrPatch_", parent) {
    olderDir = addComboRow("Older Directory");
    olderBrowse = addFolderBrowse(olderDir);
    newerDir = addComboRow("Newer Directory");
    newerBrowse = addFolderBrowse(newerDir);
    patchFile = addComboRow("Patch File");
    patchBrowse = addFileBrowse(patchFile, FileFilter::patch, true);
    reportFile = addComboRow("XML Diff Report");
    reportBrowse = addFileBrowse(reportFile, FileFilter::report, true);
    filter = addComboRow("File Ignore Filter");
    viewReport = addViewReportButton(reportFile);
    createPatch = addActionButton("Create &Patch");
}

void CDlgCrPatch::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"olddir", olderDir},
                         {u"", olderBrowse},
                         {u"newdir", newerDir},
                         {u"", newerBrowse},
                         {u"patch", patchFile},
                         {u"report", reportFile},
                         {u"", patchBrowse},
                         {u"", reportBrowse},
                         {u"filter", filter},
                         {u"", createPatch},
                         {u"", viewReport},
                         {u"", helpButton}});
}

EngineJob CDlgCrPatch::prepare(const EngineCalls& calls) {
    return [call = calls.diffCreatePatch, older = text(olderDir), newer = text(newerDir),
            patch = text(patchFile), report = text(reportFile), ignore = text(filter)](
               CProgressSink* sink) { call(sink, older, newer, patch, report, ignore); };
}

CDlgCrVaultPatch::CDlgCrVaultPatch(QWidget* parent)
    : PageBase(opCreatePatchVault, u"CrPatchVault_", parent) {
    directory = addComboRow("Directory");
    directoryBrowse = addFolderBrowse(directory);
    vaultFile = addComboRow("Vault File");
    vaultBrowse = addFileBrowse(vaultFile, FileFilter::vault, false);
    patchFile = addComboRow("Patch File");
    patchBrowse = addFileBrowse(patchFile, FileFilter::patch, true);
    reportFile = addComboRow("XML Diff Report");
    reportBrowse = addFileBrowse(reportFile, FileFilter::report, true);
    updateVault = new QCheckBox("Update Vault File", this);
    addRowWidget(updateVault);
    viewReport = addViewReportButton(reportFile);
    createPatch = addActionButton("Create &Patch");
}

void CDlgCrVaultPatch::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"dir", directory},
                         {u"", directoryBrowse},
                         {u"patch", patchFile},
                         {u"report", reportFile},
                         {u"vault", vaultFile},
                         {u"", patchBrowse},
                         {u"", vaultBrowse},
                         {u"", reportBrowse},
                         {u"", createPatch},
                         {u"", viewReport},
                         {u"", helpButton},
                         {u"updateVault", updateVault}});
}

EngineJob CDlgCrVaultPatch::prepare(const EngineCalls& calls) {
    return [call = calls.createPatchVault, dir = text(directory), patch = text(patchFile),
            vault = text(vaultFile), report = text(reportFile), update = updateVault->isChecked()](
               CProgressSink* sink) { call(sink, dir, patch, vault, report, update); };
}

CDlgCrValut::CDlgCrValut(QWidget* parent) : PageBase(opCreateVault, u"CrVault_", parent) {
    directory = addComboRow("Older Directory");
    directoryBrowse = addFolderBrowse(directory);
    vaultFile = addComboRow("Vault File");
    vaultBrowse = addFileBrowse(vaultFile, FileFilter::vault, true);
    filter = addComboRow("File Ignore Filter");
    createVault = addActionButton("Create &Vault");
}

void CDlgCrValut::forEachItem(CDlgItemsItSink& visitor) {
    visitItems(visitor, {{u"dir", directory},
                         {u"", directoryBrowse},
                         {u"vault", vaultFile},
                         {u"", vaultBrowse},
                         {u"filter", filter},
                         {u"", createVault},
                         {u"", helpButton}});
}

EngineJob CDlgCrValut::prepare(const EngineCalls& calls) {
    return [call = calls.createVault, dir = text(directory), ignore = text(filter),
            vault = text(vaultFile)](CProgressSink* sink) { call(sink, dir, ignore, vault); };
}
