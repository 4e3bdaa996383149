// The About page: the credits list and the scroller's stepping through it.
#include "guisupport.h"

#include "aboutpage.h"
#include "credits.h"

#include <QTabWidget>
#include <cstring>

namespace {

TEST(Credits, HoldTheirFixedShape) {
    int spacers = 0;
    for (const char* entry : credits) {
        ASSERT_NE(entry, nullptr);
        const std::size_t n = std::strlen(entry);
        if (n == 0) {
            ++spacers;
            continue;
        }
        EXPECT_NE(std::strchr("\t \f", entry[n - 1]), nullptr) << entry;
    }
    EXPECT_EQ(spacers, 64);
    std::vector<std::string> headings;
    for (const char* entry : credits)
        if (*entry && entry[std::strlen(entry) - 1] == '\t')
            headings.emplace_back(entry, std::strlen(entry) - 1);
    EXPECT_EQ(headings, (std::vector<std::string>{
                            "Ostmere", "Software Development", "Testing", "Project Website",
                            "Bug submission", "Software Development", "Outsourcing", "Disclaimer",
                            "3rd Party Software", "THANKS", "* * * * * * * * *"}));
}

class AboutTest : public GuiTest {};

TEST_F(AboutTest, TakesAnEntryEveryPitchTicksAndWrapsAfterTheLast) {
    CDlgHelp page;
    page.startScrolling();
    for (int i = 0; i < 14; ++i)
        page.tick();
    EXPECT_EQ(page.nextEntry(), 0u);
    page.tick();
    EXPECT_EQ(page.nextEntry(), 1u);

    // A heading sets the pitch to its font height; spacers keep it.
    while (page.nextEntry() != 7)
        page.tick();
    EXPECT_EQ(page.currentLine(), "Ostmere\t");
    EXPECT_EQ(page.linePitch(), 17);

    int guard = 0;
    while (page.nextEntry() != 0 && ++guard < 100000)
        page.tick();
    EXPECT_EQ(page.currentLine(), QString::fromLatin1(credits.back()));
    for (int i = 0; i < 30; ++i)
        page.tick();
    EXPECT_EQ(page.nextEntry(), 1u);
}

TEST_F(AboutTest, ScrollsOnlyWhileItsTabIsShownAndRestartsFromTheFirstEntry) {
    COstmereDlg w;
    EXPECT_FALSE(w.helpPage->isScrolling());
    w.tabs->setCurrentIndex(COstmereDlg::aboutTab);
    ASSERT_TRUE(w.helpPage->isScrolling());
    for (int i = 0; i < 200; ++i)
        w.helpPage->tick();
    EXPECT_GT(w.helpPage->nextEntry(), 5u);

    w.tabs->setCurrentIndex(1);
    EXPECT_FALSE(w.helpPage->isScrolling());
    w.helpPage->tick(); // a late tick does nothing
    w.tabs->setCurrentIndex(COstmereDlg::aboutTab);
    EXPECT_EQ(w.helpPage->nextEntry(), 0u);
    EXPECT_EQ(w.helpPage->currentLine(), "");
}

} // namespace
