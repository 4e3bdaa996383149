// How a run ends in the window: an unverified Apply, a half-written patch after a cancel or a
// failure, and the progress the worker reports in bulk.
#include "guisupport.h"

#include "pages.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

namespace {

class EndingsTest : public GuiTest {};

TEST_F(EndingsTest, FingerprintMismatchAfterApplyWarnsAndStoresNothing) {
    EngineCalls calls = EngineCalls::engine();
    calls.applyPatch = [](CProgressSink* sink, auto, auto, auto, bool, bool) {
        sink->setStatus(u"Patch applied ok.");
        sink->setStatus(u"After patch has been aplied fingerprints do not match.");
    };
    RecordingWindow rec(calls);
    COstmereDlg& w = rec.window;
    w.tabs->setCurrentIndex(3);
    w.applyPage->directory->setEditText("/srv/copy");
    w.applyPage->patchFile->setEditText("p.tkp");
    w.applyPage->applyPatch->click();
    waitIdle(w);

    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.kinds[0], MessageKind::warning);
    EXPECT_TRUE(rec.messages[0].contains("/srv/copy"));
    EXPECT_EQ(w.statusLine->text(), "After patch has been aplied fingerprints do not match.");
    EXPECT_FALSE(w.detailLine->text().contains("Completed.")) << w.detailLine->text().toStdString();
    EXPECT_FALSE(storedValueExists("Apply_dir"));
}

// Writes part of a patch, then reports progress until the run is cancelled or fails.
EngineCalls halfWritingCreatePatch(bool fail) {
    EngineCalls calls = EngineCalls::engine();
    calls.diffCreatePatch = [fail](CProgressSink* sink, auto, auto, std::u16string patch, auto,
                                   auto) {
        std::ofstream(utf16ToUtf8(patch), std::ios::binary) << "partial";
        sink->setStatus(u"Writing patch");
        if (fail)
            throw CTKErr(eErrGeneral, u"Unable write DWORD to a patch.", "patchReader.cpp", 1);
        for (;;)
            sink->stepProgress();
    };
    return calls;
}

TEST_F(EndingsTest, AHalfWrittenPatchIsRemovedOnlyWhenTheRunCreatedIt) {
    struct Case {
        bool fail;
        bool existedBefore;
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(std::to_string(c.fail) + std::to_string(c.existedBefore));
        const fs::path patch = work("p.tkp");
        fs::remove(patch);
        if (c.existedBefore)
            std::ofstream(patch) << "earlier";
        RecordingWindow rec(halfWritingCreatePatch(c.fail));
        COstmereDlg& w = rec.window;
        QObject::connect(&w, &COstmereDlg::statusShown, &w, [&](const QString& text) {
            if (text == "Writing patch" && !c.fail)
                w.cancelButton->click();
        });
        w.crPatchPage->patchFile->setEditText(q(patch));
        w.crPatchPage->createPatch->click();
        waitIdle(w);

        EXPECT_EQ(fs::exists(patch), c.existedBefore);
        const QString removed = "The unfinished patch file was removed: " + q(patch);
        EXPECT_EQ(w.statusLine->text().contains(removed), !c.existedBefore)
            << w.statusLine->text().toStdString();
        EXPECT_TRUE(w.statusLine->text().startsWith(c.fail ? "Create Patch(Directory) failed."
                                                           : "Cancelled."));
    }
}

TEST_F(EndingsTest, ASuccessfulRunKeepsItsPatch) {
    EngineCalls calls = EngineCalls::engine();
    calls.diffCreatePatch = [](CProgressSink* sink, auto, auto, std::u16string patch, auto, auto) {
        std::ofstream(utf16ToUtf8(patch)) << "whole";
        sink->setStatus(u"Patch created ok.");
    };
    RecordingWindow rec(calls);
    rec.window.crPatchPage->patchFile->setEditText(q(work("ok.tkp")));
    rec.window.crPatchPage->createPatch->click();
    waitIdle(rec.window);
    EXPECT_EQ(readFile(work("ok.tkp")), "whole");
    EXPECT_EQ(rec.window.statusLine->text(), "Patch created ok.");
}

// The window does not take every one of a burst of sink calls, but always the last state.
TEST_F(EndingsTest, ABurstOfProgressIsShownInFramesEndingWithTheLastState) {
    constexpr int steps = 20000;
    EngineCalls calls = EngineCalls::engine();
    calls.fingerprint = [](CProgressSink* sink, auto, auto) {
        sink->setProgressRange(steps);
        sink->resetProgress();
        for (int i = 0; i < steps; ++i) {
            sink->setStatus(u"Stage " + utf8ToUtf16(std::to_string(i)));
            sink->setDetail(u"Processing: \\f" + utf8ToUtf16(std::to_string(i)));
            sink->stepProgress();
        }
        sink->setStatus(u"Fingerprint calculated.");
        return std::u16string(40, u'0');
    };
    RecordingWindow rec(calls);
    COstmereDlg& w = rec.window;
    int shown = 0;
    QObject::connect(&w, &COstmereDlg::statusShown, &w, [&] { ++shown; });
    w.fingerPage->fingerprint->click();
    waitIdle(w);
    EXPECT_LT(shown, steps / 10);
    EXPECT_EQ(w.statusLine->text(), "Fingerprint calculated.");
    EXPECT_EQ(w.progress->maximum(), steps);
    EXPECT_EQ(w.progress->value(), steps);
    EXPECT_TRUE(w.detailLine->text().startsWith("Completed.  Time:"));
}

// Cancel still stops at the very next sink call, also between the calls the window shows.
TEST_F(EndingsTest, CancelTakesEffectAtTheNextSinkCall) {
    std::atomic<long> calls{0};
    long callsWhenPressed = -1;
    bool cancelSeen = false;
    EngineCalls engine = EngineCalls::engine();
    engine.createVault = [&](CProgressSink* sink, auto, auto, auto) {
        sink->setStatus(u"Scanning");
        try {
            for (;;) {
                sink->stepProgress();
                ++calls;
            }
        } catch (const COPCancel&) {
            cancelSeen = true;
            throw;
        }
    };
    RecordingWindow rec(engine);
    COstmereDlg& w = rec.window;
    QObject::connect(&w, &COstmereDlg::statusShown, &w, [&](const QString& text) {
        if (text != "Scanning")
            return;
        QTimer::singleShot(50, &w, [&] {
            w.cancelButton->click();
            callsWhenPressed = calls;
        });
    });
    w.crVaultPage->createVault->click();
    waitIdle(w);
    EXPECT_TRUE(cancelSeen);
    ASSERT_GE(callsWhenPressed, 0);
    EXPECT_LE(calls - callsWhenPressed, 1); // the call under way when the flag was raised
    EXPECT_EQ(w.statusLine->text(), "Cancelled.");
}

} // namespace
