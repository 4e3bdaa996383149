// The fields and the parts of the window a person handles directly: typed texts reach the
// engine unchanged, drops, the file dialogs' folder check, message boxes, keyboard and size.
#include "guisupport.h"

#include "aboutpage.h"
#include "messagebox.h"
#include "pages.h"
#include "registry.h"

#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

namespace {

class FieldsTest : public GuiTest {};

TEST_F(FieldsTest, TypedPrefixesAndCaseVariantsOfHistoryEntriesReachTheEngineAsTyped) {
    {
        CRegistry store;
        store.writeStringList("CrPatch_olddir", {"/data/fp/d11", "/data/fp/other"});
        store.writeStringList("CrPatch_patch", {"p1.tkp"});
    }
    std::vector<std::u16string> got;
    EngineCalls calls = EngineCalls::engine();
    calls.diffCreatePatch = [&](CProgressSink*, auto older, auto, auto patch, auto, auto) {
        got = {older, patch};
    };
    RecordingWindow rec(calls);
    COstmereDlg& w = rec.window;
    w.show();
    auto type = [](QComboBox* field, const QString& text) {
        field->lineEdit()->clear();
        QTest::keyClicks(field->lineEdit(), text);
        QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    };
    type(w.crPatchPage->olderDir, "/data/fp/d1");
    type(w.crPatchPage->patchFile, "P1.tkp");
    EXPECT_EQ(w.crPatchPage->olderDir->currentText(), "/data/fp/d1");
    w.crPatchPage->createPatch->click();
    waitIdle(w);
    EXPECT_EQ(got, (std::vector<std::u16string>{u"/data/fp/d1", u"P1.tkp"}));
    // Both texts are new entries; the case variant stands beside the stored one.
    EXPECT_EQ(storedList("CrPatch_olddir"),
              (QStringList{"/data/fp/d1", "/data/fp/d11", "/data/fp/other"}));
    EXPECT_EQ(storedList("CrPatch_patch"), (QStringList{"P1.tkp", "p1.tkp"}));
}

TEST_F(FieldsTest, DroppingAFileOrFolderReplacesTheTextWithItsLocalPath) {
    COstmereDlg w;
    QComboBox* field = w.crPatchPage->olderDir;
    field->setEditText("old text");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/srv/some dir")});
    QLineEdit* edit = field->lineEdit();
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &drop);
    EXPECT_EQ(field->currentText(), "/srv/some dir");
}

TEST_F(FieldsTest, FileDialogsCloseOnlyOnAFileInAnExistingFolder) {
    makeTree(work("here"), {{"x/", ""}});
    for (bool save : {true, false}) {
        QStringList complaints;
        FileDialog dialog;
        dialog.complain = [&](const QString& text) { complaints << text; };
        configureFileDialog(dialog, FileFilter::patch, save, q(work("nowhere/p.tkp")));
        dialog.open();
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        ASSERT_EQ(complaints.size(), 1);
        EXPECT_TRUE(complaints[0].contains(q(work("nowhere"))));

        dialog.selectFile(q(work("here/p.tkp")));
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(complaints.size(), 1);
    }
}

TEST(DisplayPaths, EngineAbsolutePathsTakeTheNativeForm) {
    const std::pair<QString, QString> cases[] = {
        {"Message: Unable to open file:\\tmp\\a b\\c.txt",
         "Message: Unable to open file:/tmp/a b/c.txt"},
        {"Message: Directory for fingerprinting does  not exists: \\srv\\x",
         "Message: Directory for fingerprinting does  not exists: /srv/x"},
        {"Message: Ignored filters do not match: new:a\\b old:",
         "Message: Ignored filters do not match: new:a\\b old:"},
        {"Error type:0\nMessage: Unable to remove item. \\t\\y\nError Code: 2",
         "Error type:0\nMessage: Unable to remove item. /t/y\nError Code: 2"},
        {"no path here", "no path here"},
    };
    for (const auto& [engine, shown] : cases)
        EXPECT_EQ(displayPaths(engine), shown);
}

TEST(MessageBoxes, ErrorsUseTheCriticalIconAndWrapSelectableText) {
    const QString text = "Message: " + QString(300, 'x');
    MessageBox box(MessageKind::error, text, nullptr);
    EXPECT_EQ(box.kind(), MessageKind::error);
    EXPECT_EQ(box.textView->toPlainText(), text);
    EXPECT_TRUE(box.textView->isReadOnly());
    EXPECT_EQ(box.textView->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    EXPECT_EQ(box.windowTitle(), "Ostmere");
}

TEST_F(FieldsTest, ActionButtonsHaveDistinctShortcutsAndBrowseButtonsTooltips) {
    COstmereDlg w;
    for (int i = 0; i < operationCount; ++i) {
        QWidget* page = w.tabs->widget(i);
        QList<QKeySequence> keys{w.cancelButton->shortcut()};
        for (QPushButton* button : page->findChildren<QPushButton*>()) {
            if (button->text() == "...") {
                EXPECT_FALSE(button->toolTip().isEmpty());
            } else if (!button->isHidden()) {
                EXPECT_FALSE(button->shortcut().isEmpty()) << button->text().toStdString();
                EXPECT_FALSE(keys.contains(button->shortcut())) << button->text().toStdString();
                keys << button->shortcut();
            }
        }
    }
}

TEST_F(FieldsTest, TheWindowFitsAnEightHundredPixelScreen) {
    COstmereDlg w;
    EXPECT_LE(w.minimumSizeHint().width(), 780);
    EXPECT_LE(w.minimumSizeHint().height(), 580);
    // Where there is room, every tab is in sight.
    EXPECT_GE(w.sizeHint().width(), w.tabs->tabBar()->sizeHint().width());
}

TEST_F(FieldsTest, AKeyboardStartedRunGivesTheFocusBack) {
    EngineCalls calls = EngineCalls::engine();
    calls.createVault = [](CProgressSink* sink, auto, auto, auto) { sink->setStatus(u"ok"); };
    RecordingWindow rec(calls);
    COstmereDlg& w = rec.window;
    w.tabs->setCurrentIndex(2);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.crVaultPage->createVault->setFocus();
    QTest::keyClick(w.crVaultPage->createVault, Qt::Key_Space);
    waitIdle(w);
    EXPECT_EQ(QApplication::focusWidget(), w.crVaultPage->createVault);
}

TEST_F(FieldsTest, TheAboutAreaIsRepaintedAfterAResize) {
    COstmereDlg w;
    w.show();
    w.tabs->setCurrentIndex(COstmereDlg::aboutTab);
    for (int i = 0; i < 400; ++i)
        w.helpPage->tick();
    w.resize(w.width() + 300, w.height() + 200);
    QCoreApplication::processEvents();
    const QImage shown = w.helpPage->display->grab().toImage();
    // The grown corner holds the background, not whatever was there before.
    EXPECT_EQ(shown.pixelColor(shown.width() - 2, 2), QColor(Qt::white));
    EXPECT_EQ(shown.pixelColor(shown.width() - 2, shown.height() - 2), QColor(Qt::white));
}

} // namespace
