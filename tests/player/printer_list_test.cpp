#include <gtest/gtest.h>

#include "player/printer_list.h"

namespace {
std::vector<WString> Names(const std::vector<PrinterInfo>& printers) {
    std::vector<WString> names;
    for (const PrinterInfo& p : printers) names.push_back(p.name);
    return names;
}
} // namespace

TEST(PrinterList, DefaultFirstThenCodeUnitOrder) {
    const auto printers = MakePrinterList({u"zeta", u"Beta", u"alpha", u"HP LaserJet", u"Ärger", u"Alpha", u"PDF"},
                                          u"hp laserjet");
    // Upper-case initials sort before lower-case ones, and non-ASCII after both.
    EXPECT_EQ(Names(printers),
              (std::vector<WString>{u"HP LaserJet", u"Alpha", u"Beta", u"PDF", u"alpha", u"zeta", u"Ärger"}));
    EXPECT_TRUE(printers[0].isDefault);
    for (std::size_t i = 1; i < printers.size(); ++i) EXPECT_FALSE(printers[i].isDefault) << i;
}

TEST(PrinterList, NoDefaultAndEmptyLists) {
    auto printers = MakePrinterList({u"b", u"a"}, u"");
    EXPECT_EQ(Names(printers), (std::vector<WString>{u"a", u"b"}));
    EXPECT_FALSE(printers[0].isDefault || printers[1].isDefault);
    EXPECT_TRUE(MakePrinterList({}, u"PDF").empty());
    // A default that is not installed marks nothing.
    printers = MakePrinterList({u"b", u"a"}, u"Gone");
    EXPECT_FALSE(printers[0].isDefault || printers[1].isDefault);
}

TEST(PrinterList, SortKeepsAnAlreadyMarkedDefaultOnTop) {
    std::vector<PrinterInfo> printers{{u"a", false}, {u"z", true}, {u"B", false}};
    SortPrinters(printers);
    EXPECT_EQ(Names(printers), (std::vector<WString>{u"z", u"B", u"a"}));
}

TEST(PrinterList, LineTextMarksOnlyTheDefault) {
    EXPECT_EQ(PrinterLineText({u"PDF", true}), u"PDF  ★");
    EXPECT_EQ(PrinterLineText({u"PDF", false}), u"PDF");
    EXPECT_EQ(PrinterLineText({u"", true}), u"  ★");
}

TEST(PrinterList, StatesAreShownAndAStoppedPrinterIsNotPreselected) {
    EXPECT_EQ(PrinterLineText({u"PDF", true, PrinterState::Idle}), u"PDF  ★  (idle)");
    EXPECT_EQ(PrinterLineText({u"Laser", false, PrinterState::Printing}), u"Laser  (printing)");
    EXPECT_EQ(PrinterLineText({u"Paused", false, PrinterState::Stopped}), u"Paused  (stopped)");
    // A stopped default stays first and marked, but the first printer that prints is preselected.
    PrinterChoice choice({{u"Paused", true, PrinterState::Stopped}, {u"A", false, PrinterState::Stopped},
                          {u"B", false, PrinterState::Idle}});
    EXPECT_EQ(choice.InitialRow(), 2);
    EXPECT_EQ(PrinterChoice({{u"Paused", true, PrinterState::Stopped}}).InitialRow(), -1);
    EXPECT_EQ(PrinterChoice({{u"Elsewhere", true}}).InitialRow(), 0) << "an unknown state is no reason to skip";
    // Choosing a stopped printer on purpose is still possible.
    EXPECT_TRUE(choice.Choose(0));
    EXPECT_EQ(choice.Chosen(), u"Paused");
}
