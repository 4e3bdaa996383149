// The pages: what each action hands to the engine, the controls each page visits under which
// history keys, the controls' texts, the file dialogs and the report viewer.
#include "guisupport.h"

#include "guithread.h"
#include "pages.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <functional>
#include <mutex>

namespace {

std::string s(const std::u16string& text) {
    return utf16ToUtf8(text);
}
std::string b(bool flag) {
    return flag ? "true" : "false";
}

// Engine stand-ins that record the call and, while it runs, the state of the controls.
struct Recorder {
    std::mutex lock;
    std::vector<std::string> args;
    std::function<void()> duringCall = [] {};
    std::u16string fingerprintResult = u"0123456789abcdef0123456789abcdef01234567";

    EngineCalls calls() {
        EngineCalls c;
        c.diffCreatePatch = [this](CProgressSink*, auto o, auto n, auto p, auto r, auto f) {
            record({"diff", s(o), s(n), s(p), s(r), s(f)});
        };
        c.createPatchVault = [this](CProgressSink*, auto d, auto p, auto v, auto r, bool u) {
            record({"patchVault", s(d), s(p), s(v), s(r), b(u)});
        };
        c.applyPatch = [this](CProgressSink*, auto d, auto p, auto r, bool cont, bool ign) {
            record({"apply", s(d), s(p), s(r), b(cont), b(ign)});
        };
        c.querryPatch = [this](CProgressSink*, auto p, auto r) { record({"query", s(p), s(r)}); };
        c.createVault = [this](CProgressSink*, auto d, auto f, auto v) {
            record({"vault", s(d), s(f), s(v)});
        };
        c.fingerprint = [this](CProgressSink*, auto d, auto f) {
            record({"fingerprint", s(d), s(f)});
            return fingerprintResult;
        };
        return c;
    }
    void record(std::vector<std::string> call) {
        duringCall();
        std::lock_guard guard(lock);
        args = std::move(call);
    }
};

class PagesTest : public GuiTest {
  protected:
    Recorder recorder;
    RecordingWindow rec{recorder.calls()};
    COstmereDlg& w = rec.window;

    void run(QPushButton* action) {
        action->click();
        waitIdle(w);
        EXPECT_EQ(rec.messages, QStringList());
    }
};

TEST_F(PagesTest, EachActionPassesItsFieldsInTheEngineOrder) {
    auto* cp = w.crPatchPage;
    cp->olderDir->setEditText("O");
    cp->newerDir->setEditText("N");
    cp->patchFile->setEditText("P");
    cp->reportFile->setEditText("R");
    cp->filter->setEditText("F");
    run(cp->createPatch);
    EXPECT_EQ(recorder.args, (std::vector<std::string>{"diff", "O", "N", "P", "R", "F"}));

    auto* vp = w.crVaultPatchPage;
    vp->directory->setEditText("D");
    vp->patchFile->setEditText("P");
    vp->vaultFile->setEditText("V");
    vp->reportFile->setEditText("R");
    vp->updateVault->setChecked(true);
    run(vp->createPatch);
    EXPECT_EQ(recorder.args, (std::vector<std::string>{"patchVault", "D", "P", "V", "R", "true"}));

    auto* cv = w.crVaultPage;
    cv->directory->setEditText("D");
    cv->vaultFile->setEditText("V");
    cv->filter->setEditText("F");
    run(cv->createVault);
    EXPECT_EQ(recorder.args, (std::vector<std::string>{"vault", "D", "F", "V"}));

    auto* pi = w.patchInfoPage;
    pi->patchFile->setEditText("P");
    pi->reportFile->setEditText("R");
    run(pi->querryPatch);
    EXPECT_EQ(recorder.args, (std::vector<std::string>{"query", "P", "R"}));

    auto* fp = w.fingerPage;
    fp->directory->setEditText("D");
    fp->filter->setEditText("F");
    run(fp->fingerprint);
    EXPECT_EQ(recorder.args, (std::vector<std::string>{"fingerprint", "D", "F"}));
    EXPECT_EQ(fp->result->text().toStdU16String(), recorder.fingerprintResult);
}

TEST_F(PagesTest, ApplyPassesContinueOnErrorsBeforeIgnoreFingerprint) {
    struct Case {
        bool ignoreTicked, continueTicked;
        const char *fourth, *fifth;
    };
    auto* ap = w.applyPage;
    ap->directory->setEditText("D");
    ap->patchFile->setEditText("P");
    ap->reportFile->setEditText("R");
    for (const Case& c : {Case{false, true, "true", "false"}, Case{true, false, "false", "true"},
                          Case{true, true, "true", "true"}, Case{false, false, "false", "false"}}) {
        ap->ignoreFingerprint->setChecked(c.ignoreTicked);
        ap->continueOnErrors->setChecked(c.continueTicked);
        run(ap->applyPatch);
        EXPECT_EQ(recorder.args,
                  (std::vector<std::string>{"apply", "D", "P", "R", c.fourth, c.fifth}));
    }
    EXPECT_EQ(ap->ignoreFingerprint->text(), "Ignore Directory Fingerprint(Not Recomnded)");
    EXPECT_EQ(ap->continueOnErrors->text(), "Continue on Filesystem Errors(Not Recomnded)");
}

TEST_F(PagesTest, ARunDisablesTheTabsAndThePageAndEnablesCancelUntilItEnds) {
    struct Seen {
        bool tabBar, otherTab, field, action, cancel, result;
        QString resultText;
    } seen{};
    recorder.duringCall = [&] {
        runOnGuiThread(&w, [&] {
            seen = {w.tabs->tabBar()->isEnabled(),        w.tabs->isTabEnabled(0),
                    w.fingerPage->directory->isEnabled(), w.fingerPage->fingerprint->isEnabled(),
                    w.cancelButton->isEnabled(),          w.fingerPage->result->isEnabled(),
                    w.fingerPage->result->text()};
        });
    };
    w.tabs->setCurrentIndex(5);
    w.fingerPage->result->setText("stale");
    run(w.fingerPage->fingerprint);
    EXPECT_FALSE(seen.tabBar);
    EXPECT_FALSE(seen.otherTab);
    EXPECT_FALSE(seen.field);
    EXPECT_FALSE(seen.action);
    EXPECT_TRUE(seen.cancel);
    EXPECT_TRUE(seen.result);       // the result field is never disabled
    EXPECT_EQ(seen.resultText, ""); // cleared before the engine call
    EXPECT_TRUE(w.tabs->tabBar()->isEnabled());
    EXPECT_TRUE(w.tabs->isTabEnabled(0));
    EXPECT_TRUE(w.fingerPage->directory->isEnabled());
    EXPECT_FALSE(w.cancelButton->isEnabled());
}

TEST_F(PagesTest, OutcomesOfEveryHandler) {
    struct Case {
        std::function<void()> raise;
        QString message;
    };
    const Case cases[] = {
        {[] { throw std::u16string(u"thrown text"); }, "thrown text"},
        {[] { throw CTKErr(eErrGeneral, u"boom", "tkdiff.cpp", 7); }, ""},
        {[] { throw std::runtime_error("other"); }, "A general unknown error has occured."},
    };
    for (const Case& c : cases) {
        rec.messages.clear();
        recorder.duringCall = c.raise;
        w.crPatchPage->createPatch->click();
        waitIdle(w);
        ASSERT_EQ(rec.messages.size(), 1);
        if (!c.message.isEmpty())
            EXPECT_EQ(rec.messages[0], c.message);
        else
            EXPECT_TRUE(rec.messages[0].startsWith("Error type:0\nMessage: boom\nError Code: "));
        EXPECT_TRUE(w.detailLine->text().startsWith("Failed.  Time:"));
    }
    EXPECT_FALSE(storedValueExists("CrPatch_olddir"));
}

TEST_F(PagesTest, ViewReportHandsTheReportFieldToTheViewerEvenWhenEmpty) {
    QStringList viewed;
    w.setReportViewer([&](const QString& path) { viewed << path; });
    w.crPatchPage->reportFile->setEditText("/tmp/with space/r.xml");
    w.crPatchPage->viewReport->click();
    w.crVaultPatchPage->viewReport->click();
    w.applyPage->reportFile->setEditText("a.xml");
    w.applyPage->viewReport->click();
    w.patchInfoPage->reportFile->setEditText("q.xml");
    w.patchInfoPage->viewReport->click();
    EXPECT_EQ(viewed, (QStringList{"/tmp/with space/r.xml", "", "a.xml", "q.xml"}));
}

TEST_F(PagesTest, ViewingWithoutAViewerOrPathDoesNothing) {
    RecordingWindow plain;
    plain.window.viewReport(""); // nothing to open: no error box, no message
    EXPECT_EQ(plain.messages, QStringList());
}

// Records the visit: key and what kind of control.
class KeyRecorder : public CDlgItemsItSink {
  public:
    void visit(const std::u16string& key, QWidget* control) override {
        std::string kind = qobject_cast<QComboBox*>(control)   ? "combo"
                           : qobject_cast<QCheckBox*>(control) ? "check"
                                                               : "button";
        visits.push_back(s(key) + ":" + kind);
    }
    std::vector<std::string> visits;
};

TEST_F(PagesTest, PagesVisitTheirControlsInOrderUnderTheirHistoryKeys) {
    struct Case {
        CCmnDlgFunctions* page;
        std::vector<std::string> expected;
    };
    const std::string B = ":button";
    const Case cases[] = {
        {w.crPatchPage,
         {"CrPatch_olddir:combo", "CrPatch_" + B, "CrPatch_newdir:combo", "CrPatch_" + B,
          "CrPatch_patch:combo", "CrPatch_report:combo", "CrPatch_" + B, "CrPatch_" + B,
          "CrPatch_filter:combo", "CrPatch_" + B, "CrPatch_" + B, "CrPatch_" + B}},
        {w.crVaultPatchPage,
         {"CrPatchVault_dir:combo", "CrPatchVault_" + B, "CrPatchVault_patch:combo",
          "CrPatchVault_report:combo", "CrPatchVault_vault:combo", "CrPatchVault_" + B,
          "CrPatchVault_" + B, "CrPatchVault_" + B, "CrPatchVault_" + B, "CrPatchVault_" + B,
          "CrPatchVault_" + B, "CrPatchVault_updateVault:check"}},
        {w.crVaultPage,
         {"CrVault_dir:combo", "CrVault_" + B, "CrVault_vault:combo", "CrVault_" + B,
          "CrVault_filter:combo", "CrVault_" + B, "CrVault_" + B}},
        {w.applyPage,
         {"Apply_dir:combo", "Apply_" + B, "Apply_patch:combo", "Apply_report:combo", "Apply_" + B,
          "Apply_" + B, "Apply_" + B, "Apply_" + B, "Apply_" + B, "Apply_fpignore:check",
          "Apply_fsignore:check"}},
        {w.patchInfoPage,
         {"PatchInfo_patch:combo", "PatchInfo_report:combo", "PatchInfo_" + B, "PatchInfo_" + B,
          "PatchInfo_" + B, "PatchInfo_" + B, "PatchInfo_" + B}},
        {w.fingerPage,
         {"Fingerprint_dir:combo", "Fingerprint_filter:combo", "Fingerprint_" + B,
          "Fingerprint_" + B, "Fingerprint_" + B}},
    };
    for (const Case& c : cases) {
        KeyRecorder keys;
        c.page->forEachItem(keys);
        EXPECT_EQ(keys.visits, c.expected);
    }
}

QStringList texts(QWidget* page) {
    QStringList out;
    for (QLabel* label : page->findChildren<QLabel*>())
        out << label->text();
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>())
        if (button->text() != "...")
            out << QString(button->text()).remove('&'); // the shortcut marks
    return out;
}

TEST_F(PagesTest, LabelsAndButtonTexts) {
    const QString help = "Help", view = "View XML Diff Report";
    struct Case {
        QWidget* page;
        QStringList expected;
    };
    const Case cases[] = {
        {w.crPatchPage,
         {"Older Directory", "Newer Directory", "Patch File", "XML Diff Report",
          "File Ignore Filter", help, view, "Create Patch"}},
        {w.crVaultPatchPage,
         {"Directory", "Vault File", "Patch File", "XML Diff Report", help, "Update Vault File",
          view, "Create Patch"}},
        {w.crVaultPage,
         {"Older Directory", "Vault File", "File Ignore Filter", help, "Create Vault"}},
        {w.applyPage,
         {"Older Directory", "Patch File", "XML Diff Report", help,
          "Ignore Directory Fingerprint(Not Recomnded)",
          "Continue on Filesystem Errors(Not Recomnded)", view, "Apply Patch"}},
        {w.patchInfoPage, {"Patch File", "XML Diff Report", help, view, "Querry Patch"}},
        {w.fingerPage, {"Directory", "File Ignore Filter", "Fingerprint", help, "Fingerprint"}},
    };
    for (const Case& c : cases) {
        QStringList got = texts(c.page), want = c.expected;
        got.sort();
        want.sort();
        EXPECT_EQ(got, want);
    }
    EXPECT_TRUE(w.crPatchPage->helpButton->isHidden());
    EXPECT_TRUE(w.fingerPage->result->isReadOnly());
}

TEST(FileDialogs, FiltersDefaultExtensionAndInitialName) {
    struct Case {
        FileFilter filter;
        QString first, extension;
    };
    for (const Case& c : {Case{FileFilter::patch, "tkPatch files (*.tkp)", "tkp"},
                          Case{FileFilter::vault, "tkVault files (*.tkv)", "tkv"},
                          Case{FileFilter::report, "tkPatch Report files (*.xml)", "xml"}}) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        configureFileDialog(dialog, c.filter, true, "/tmp/new");
        EXPECT_EQ(dialog.nameFilters(), (QStringList{c.first, "All files (*.*)"}));
        EXPECT_EQ(dialog.selectedNameFilter(), c.first);
        EXPECT_EQ(dialog.defaultSuffix(), c.extension);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    }
    QFileDialog open;
    configureFileDialog(open, FileFilter::patch, false, "");
    EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
}

} // namespace
