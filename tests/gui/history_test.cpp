// Field histories: the stored byte form, the most-recent-first rule, the size limit on
// reading, check-box states, and filling the pages at start-up.
#include "guisupport.h"

#include "pages.h"
#include "registry.h"

#include <QCheckBox>
#include <QComboBox>

namespace {

using history::parseStringList;
using history::serializeStringList;

class HistoryTest : public GuiTest {
  protected:
    QComboBox combo;
    HistoryTest() { combo.setEditable(true); }

    // What a successful run does with one field.
    QStringList useValue(const QString& text) {
        combo.setEditText(text);
        CRegistryWriter().visit(u"CrPatch_olddir", &combo);
        return storedList("CrPatch_olddir");
    }
    static QStringList items(const QComboBox& box) {
        QStringList out;
        for (int i = 0; i < box.count(); ++i)
            out << box.itemText(i);
        return out;
    }
};

TEST(HistoryBytes, ListLayoutIsCountThenMarkedLengthAndUtf16Units) {
    const QByteArray expected("\x02\x00" // two strings
                              "\xff\xfe\xff\x02"
                              "a\0b\0"            // "ab"
                              "\xff\xfe\xff\x00", // ""
                              14);
    EXPECT_EQ(serializeStringList({"ab", ""}), expected);
    EXPECT_EQ(serializeStringList({}), QByteArray("\x00\x00", 2));

    // Lengths from 255 on take the escaped 16-bit form.
    const QString longText(300, QChar(0x263a));
    const QByteArray longBytes = serializeStringList({longText});
    EXPECT_EQ(longBytes.mid(2, 6), QByteArray("\xff\xfe\xff\xff\x2c\x01", 6));
    EXPECT_EQ(longBytes.size(), 8 + 600);

    const QStringList mixed = {"C:\\dir", longText, QString::fromUtf8("\xc3\xa9t\xc3\xa9"), ""};
    EXPECT_EQ(parseStringList(serializeStringList(mixed)), mixed);
}

TEST(HistoryBytes, IncompleteOrTrailingBytesAreNoList) {
    const QByteArray good = serializeStringList({"abc", "de"});
    for (qsizetype cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(parseStringList(good.left(cut))) << cut;
    EXPECT_FALSE(parseStringList(good + 'x'));
}

TEST_F(HistoryTest, KeepsTheTenMostRecentDistinctValuesNewestFirst) {
    for (int i = 0; i < 11; ++i)
        useValue(QString("v%1").arg(i));
    const QStringList tenNewest = {"v10", "v9", "v8", "v7", "v6", "v5", "v4", "v3", "v2", "v1"};
    EXPECT_EQ(storedList("CrPatch_olddir"), tenNewest);
    EXPECT_EQ(items(combo), tenNewest);

    // A value used again moves to the top without a duplicate; letter case makes it distinct.
    EXPECT_EQ(useValue("v5"),
              (QStringList{"v5", "v10", "v9", "v8", "v7", "v6", "v4", "v3", "v2", "v1"}));
    EXPECT_EQ(useValue("V5").mid(0, 3), (QStringList{"V5", "v5", "v10"}));
    EXPECT_EQ(combo.currentText(), "V5");
    // An empty field of a successful run is stored as an empty entry.
    EXPECT_EQ(useValue("").mid(0, 2), (QStringList{"", "V5"}));
    EXPECT_EQ(storedList("CrPatch_olddir").size(), 10);
}

TEST_F(HistoryTest, ReadingFillsTheListInStoredOrderAndShowsTheFirst) {
    CRegistry().writeStringList("CrPatch_olddir", {"b", "a", "c"});
    combo.addItem("stale");
    CRegistryReader().visit(u"CrPatch_olddir", &combo);
    EXPECT_EQ(items(combo), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(combo.currentText(), "b");

    CRegistryReader().visit(u"CrPatch_missing", &combo);
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.currentText(), "");
}

TEST_F(HistoryTest, AValueOverFourKilobytesReadsAsEmpty) {
    // One string of n units takes 2 + 3 + 3 + 2n bytes.
    const QStringList fits = {QString(2044, 'x')}, tooBig = {QString(2045, 'x')};
    ASSERT_EQ(serializeStringList(fits).size(), 4096);
    CRegistry().writeStringList("Apply_dir", fits);
    CRegistry().writeStringList("Apply_patch", tooBig);
    QSettings(history::organisation, history::application).setValue("Apply_report", "text");

    COstmereDlg w;
    EXPECT_EQ(w.applyPage->directory->currentText(), fits[0]);
    EXPECT_EQ(w.applyPage->patchFile->count(), 0);
    EXPECT_EQ(w.applyPage->patchFile->currentText(), "");
    EXPECT_EQ(w.applyPage->reportFile->count(), 0); // not raw bytes
}

TEST_F(HistoryTest, CheckBoxesStoreTheirStateAsANumber) {
    QCheckBox box;
    box.setChecked(true);
    CRegistryWriter().visit(u"Apply_fpignore", &box);
    box.setChecked(false);
    CRegistryWriter().visit(u"Apply_fsignore", &box);
    uint32_t value = 7;
    ASSERT_TRUE(CRegistry().readNumber("Apply_fpignore", value));
    EXPECT_EQ(value, 1u);
    ASSERT_TRUE(CRegistry().readNumber("Apply_fsignore", value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(CRegistry().readNumber("CrPatchVault_updateVault", value));

    CRegistry().writeStringList("CrPatchVault_updateVault", {"1"}); // wrong type: ignored
    COstmereDlg w;
    EXPECT_TRUE(w.applyPage->ignoreFingerprint->isChecked());
    EXPECT_FALSE(w.applyPage->continueOnErrors->isChecked());
    EXPECT_FALSE(w.crVaultPatchPage->updateVault->isChecked());
}

TEST_F(HistoryTest, FirstStartShowsEmptyFieldsAndTheWindowFillsEveryPage) {
    {
        COstmereDlg w;
        EXPECT_EQ(w.crPatchPage->olderDir->currentText(), "");
        EXPECT_FALSE(w.applyPage->ignoreFingerprint->isChecked());
    }
    const struct {
        const char* name;
        std::function<QComboBox*(COstmereDlg&)> field;
    } fields[] = {
        {"CrPatch_newdir", [](COstmereDlg& w) { return w.crPatchPage->newerDir; }},
        {"CrPatchVault_vault", [](COstmereDlg& w) { return w.crVaultPatchPage->vaultFile; }},
        {"CrVault_filter", [](COstmereDlg& w) { return w.crVaultPage->filter; }},
        {"Apply_report", [](COstmereDlg& w) { return w.applyPage->reportFile; }},
        {"PatchInfo_patch", [](COstmereDlg& w) { return w.patchInfoPage->patchFile; }},
        {"Fingerprint_dir", [](COstmereDlg& w) { return w.fingerPage->directory; }},
    };
    for (const auto& f : fields)
        CRegistry().writeStringList(f.name, {QString(f.name) + "-1", "older"});
    COstmereDlg w;
    for (const auto& f : fields) {
        EXPECT_EQ(f.field(w)->currentText(), QString(f.name) + "-1");
        EXPECT_EQ(f.field(w)->count(), 2);
    }
    EXPECT_TRUE(w.fingerPage->result->text().isEmpty());
}

} // namespace
