// Runs of real engine operations from the window: outcome display, cancel, errors, the
// history written only after success, and closing during a run.
#include "guisupport.h"

#include "aboutpage.h"
#include "pages.h"

#include <QLabel>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <atomic>

namespace {

bool idleControls(COstmereDlg& w) {
    return w.tabs->tabBar()->isEnabled() && !w.cancelButton->isEnabled() &&
           w.crPatchPage->olderDir->isEnabled() && w.crPatchPage->createPatch->isEnabled();
}

class MainWindowTest : public GuiTest {
  protected:
    void fillCreatePatch(CDlgCrPatch& page, const fs::path& older, const fs::path& newer,
                         const fs::path& patch, const QString& report) {
        page.olderDir->setEditText(q(older));
        page.newerDir->setEditText(q(newer));
        page.patchFile->setEditText(q(patch));
        page.reportFile->setEditText(report);
        page.filter->setEditText("*.tmp");
    }
    void makeOldAndNew() {
        makeTree(work("old"), {{"same.txt", "same"}, {"changed.txt", "v1"}, {"gone.txt", "x"}});
        makeTree(work("new"), {{"same.txt", "same"},
                               {"changed.txt", "v2 longer"},
                               {"sub/added.bin", std::string(70000, 'a')},
                               {"skip.tmp", "ignored"}});
    }
};

TEST_F(MainWindowTest, StartsIdleWithTheSevenTabsAndEmptyStatus) {
    COstmereDlg w;
    const QStringList expected = {"Create Patch(Directory)",
                                  "Create Patch(Vault)",
                                  "Create Vault File",
                                  "Apply Patch",
                                  "Querry Patch",
                                  "Calculate Fingerprint",
                                  "About"};
    QStringList texts;
    for (int i = 0; i < w.tabs->count(); ++i)
        texts << w.tabs->tabText(i);
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(w.windowTitle(), "Ostmere");
    EXPECT_EQ(w.cancelButton->text().remove('&'), "Cancel");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.tabs->currentIndex(), 0);
    EXPECT_TRUE(idleControls(w));
    EXPECT_TRUE(w.statusLine->text().isEmpty());
    EXPECT_TRUE(w.detailLine->text().isEmpty());
    EXPECT_EQ(w.getBufferSize(), 2u * 1024 * 1024);
    EXPECT_NE(w.getBuffer(), nullptr);
}

TEST_F(MainWindowTest, CreatePatchWritesPatchAndReportAndThenApplyBringsOldToNew) {
    makeOldAndNew();
    RecordingWindow rec;
    COstmereDlg& w = rec.window;
    fillCreatePatch(*w.crPatchPage, work("old"), work("new"), work("p.tkp"), q(work("report.xml")));
    w.crPatchPage->createPatch->click();
    EXPECT_TRUE(w.isRunning() || fs::exists(work("p.tkp")));
    waitIdle(w);

    EXPECT_EQ(rec.messages, QStringList());
    EXPECT_EQ(w.statusLine->text(), "Patch created ok.");
    EXPECT_TRUE(w.detailLine->text().startsWith("Completed.  Time:00:00:"))
        << w.detailLine->text().toStdString();
    EXPECT_GT(fs::file_size(work("p.tkp")), 70000u);
    EXPECT_NE(readFile(work("report.xml")).find("tkDiffPatchReport"), std::string::npos);
    EXPECT_TRUE(idleControls(w));
    EXPECT_EQ(storedList("CrPatch_olddir"), QStringList{q(work("old"))});
    EXPECT_EQ(storedList("CrPatch_filter"), QStringList{"*.tmp"});

    // The patch turns a copy of the older tree into the newer one.
    fs::copy(work("old"), work("copy"), fs::copy_options::recursive);
    w.tabs->setCurrentIndex(3);
    w.applyPage->directory->setEditText(q(work("copy")));
    w.applyPage->patchFile->setEditText(q(work("p.tkp")));
    w.applyPage->applyPatch->click();
    waitIdle(w);
    EXPECT_EQ(rec.messages, QStringList());
    EXPECT_EQ(readFile(work("copy/changed.txt")), "v2 longer");
    EXPECT_EQ(readFile(work("copy/sub/added.bin")).size(), 70000u);
    EXPECT_FALSE(fs::exists(work("copy/gone.txt")));
}

TEST_F(MainWindowTest, CancelShowsCancelledWithoutCompletedAndStoresNothing) {
    makeOldAndNew();
    RecordingWindow rec;
    COstmereDlg& w = rec.window;
    fillCreatePatch(*w.crPatchPage, work("old"), work("new"), work("p.tkp"), "");
    // Pressed while the first stage is shown: the sink throws at that very call.
    QObject::connect(&w, &COstmereDlg::statusShown, &w, [&](const QString& text) {
        if (text != "Cancelled.")
            w.cancelButton->click();
    });
    w.crPatchPage->createPatch->click();
    waitIdle(w);

    EXPECT_EQ(rec.messages, QStringList());
    EXPECT_EQ(w.statusLine->text(), "Cancelled.");
    EXPECT_TRUE(w.detailLine->text().startsWith("Cancelled.  Time:"))
        << w.detailLine->text().toStdString();
    EXPECT_EQ(w.progress->value(), 0);
    EXPECT_FALSE(fs::exists(work("p.tkp")));
    EXPECT_TRUE(idleControls(w));
    EXPECT_TRUE(storedList("CrPatch_olddir").isEmpty());
    EXPECT_FALSE(storedValueExists("CrPatch_olddir"));
}

TEST_F(MainWindowTest, EngineErrorIsAnErrorBoxWithTheFourLineTextAndStoresNothing) {
    makeTree(work("new"), {{"a.txt", "a"}});
    RecordingWindow rec;
    COstmereDlg& w = rec.window;
    fillCreatePatch(*w.crPatchPage, work("missing"), work("new"), work("p.tkp"), "");
    w.crPatchPage->createPatch->click();
    waitIdle(w);

    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.kinds[0], MessageKind::error);
    const QStringList lines = rec.messages[0].split('\n');
    ASSERT_EQ(lines.size(), 5) << rec.messages[0].toStdString(); // four lines, each ended
    EXPECT_EQ(lines[0], "Error type:0");
    // The path in its native form, as typed.
    EXPECT_EQ(lines[1], "Message: Older directory for patch creation does  not exists: " +
                            q(work("missing")));
    EXPECT_TRUE(lines[2].startsWith("Error Code: "));
    EXPECT_TRUE(lines[3].startsWith("Location: tkdiff"));
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(w.statusLine->text(), "Create Patch(Directory) failed.");
    EXPECT_TRUE(w.detailLine->text().startsWith("Failed.  Time:"));
    EXPECT_EQ(w.progress->value(), 0);
    EXPECT_TRUE(idleControls(w));
    EXPECT_FALSE(storedValueExists("CrPatch_olddir"));
}

TEST_F(MainWindowTest, FingerprintFieldIsFilledAfterSuccessAndEmptyAfterFailure) {
    makeTree(work("tree"), {{"a.txt", "a"}, {"d/", ""}});
    RecordingWindow rec;
    COstmereDlg& w = rec.window;
    w.tabs->setCurrentIndex(5);
    w.fingerPage->directory->setEditText(q(work("tree")));
    w.fingerPage->fingerprint->click();
    waitIdle(w);
    EXPECT_EQ(rec.messages, QStringList());
    EXPECT_EQ(w.statusLine->text(), "Fingerprint calculated.");
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{40}$").match(w.fingerPage->result->text()).hasMatch())
        << w.fingerPage->result->text().toStdString();

    w.fingerPage->directory->setEditText(q(work("nowhere")));
    w.fingerPage->fingerprint->click();
    waitIdle(w);
    EXPECT_EQ(rec.messages.size(), 1);
    EXPECT_TRUE(w.fingerPage->result->text().isEmpty());
    EXPECT_EQ(storedList("Fingerprint_dir"), QStringList{q(work("tree"))});
}

// An engine stand-in that keeps reporting progress until the sink cancels it.
EngineCalls endlessCreatePatch(std::atomic<bool>& started, std::atomic<bool>& cancelled) {
    EngineCalls calls = EngineCalls::engine();
    calls.diffCreatePatch = [&](CProgressSink* sink, auto, auto, auto, auto, auto) {
        sink->setStatus(u"Working");
        started = true;
        try {
            for (;;)
                sink->stepProgress();
        } catch (const COPCancel&) {
            cancelled = true;
            throw;
        }
    };
    return calls;
}

TEST_F(MainWindowTest, ClosingDuringARunCancelsItAndClosesOnceTheWorkerHasEnded) {
    std::atomic<bool> started{false}, cancelled{false};
    COstmereDlg w(endlessCreatePatch(started, cancelled));
    w.show();
    w.crPatchPage->createPatch->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 60000));
    EXPECT_FALSE(w.close()); // refused for now
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 60000));
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(w.isRunning());
}

TEST_F(MainWindowTest, DestroyingTheWindowDuringARunWaitsForTheWorker) {
    std::atomic<bool> started{false}, cancelled{false};
    auto w = std::make_unique<COstmereDlg>(endlessCreatePatch(started, cancelled));
    w->crPatchPage->createPatch->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 60000));
    w.reset();
    EXPECT_TRUE(cancelled);
}

} // namespace
