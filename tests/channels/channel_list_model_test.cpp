#include "channels/channel_editor.h"
#include "channels/channel_list_model.h"
#include "channels/drag_scroll.h"
#include "channels/image_writer.h"
#include "channels/transponder_list_model.h"
#include "sim/image_builder.h"
#include "tests/link/temp_dir.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvex::test {
namespace {

using namespace channels;

constexpr std::string_view kCleared = "(cleared)";

// A channel line with a unique record reference (0 for transponder 255, as the loader gives).
Line channelLine(std::string_view name, int transponder = 1, std::uint8_t flags = kFlagActive) {
    static std::uint32_t nextReference = 0x20044;
    ChannelRecord record;
    std::copy_n(name.begin(), std::min(name.size(), kChannelNameSize), record.name.begin());
    record.flags = flags;
    record.transponder = static_cast<std::uint8_t>(transponder);
    record.vpid = 0x100;
    nextReference += kChannelRecordSize;
    return Line{formatChannelLine(record, DisplayMode::Decimal),
                transponder == kNoTransponder ? 0 : nextReference};
}

std::vector<std::string> names(const ChannelListModel& model) {
    std::vector<std::string> shown;
    for (const Line& line : model.lines()) {
        std::string name(fieldText(line.text, channel_field::kName));
        name.erase(name.find_last_not_of(' ') + 1);
        shown.push_back(line.text == kClearedChannelLine ? std::string(kCleared)
                        : name.empty()                   ? "-"
                                                         : name);
    }
    return shown;
}

using Names = std::vector<std::string>;

/// One letter a channel ("-": empty, "*": cleared), in a table row's width.
std::vector<Line> channelLines(std::string_view letters) {
    std::vector<Line> lines;
    for (const char letter : letters) {
        lines.push_back(letter == '-' ? channelLine("", kNoTransponder)
                                      : channelLine(std::string_view(&letter, 1)));
    }
    return lines;
}

std::string letters(const ChannelListModel& model) {
    std::string shown;
    for (const std::string& name : names(model)) {
        shown += name == kCleared ? '*' : name.front();
    }
    return shown;
}

ChannelListModel modelOf(std::string_view names, std::initializer_list<std::size_t> selected = {},
                         std::optional<std::size_t> current = std::nullopt) {
    ChannelListModel model;
    model.reset(channelLines(names));
    for (const std::size_t index : selected) {
        model.setSelected(index, true);
    }
    model.setCurrent(current);
    return model;
}

TEST(ChannelClipboard, CopyThenPasteTwiceInsertsTheSameLinesTwice) {
    ChannelListModel model = modelOf("ABCD", {0, 2}, 3);
    model.copy();
    model.deselectAll();
    model.paste();
    model.paste();
    EXPECT_EQ(letters(model), "ABCACACD");
    EXPECT_EQ(model.selectedLines(), (std::vector<std::size_t>{3, 4, 5, 6}));
    EXPECT_EQ(model.current(), 7U) << "the old current line stays current";
    EXPECT_EQ(model.line(3).reference, model.line(0).reference) << "pasted lines keep references";
}

TEST(ChannelClipboard, CutTakesLinesInListOrderAndRenumbersTheRest) {
    ChannelListModel model = modelOf("ABCDEFGH", {6, 2}, 1);
    model.cut();
    EXPECT_EQ(letters(model), "ABDEFH");
    ASSERT_TRUE(model.clipboard());
    EXPECT_EQ(model.clipboard()->size(), 2U);
    model.pasteAfter();
    EXPECT_EQ(letters(model), "ABCGDEFH");
    EXPECT_EQ(model.selectedCount(), 0U) << "Paste after leaves the selection alone";
}

TEST(ChannelClipboard, PasteWithoutAFilledClipboardOrCurrentLine) {
    ChannelListModel model = modelOf("AB", {0});
    model.paste();
    model.pasteAfter();
    model.replace();
    EXPECT_EQ(letters(model), "AB");
    EXPECT_FALSE(model.canUndo());
    model.copy();
    model.paste(); // no current line: at the end
    EXPECT_EQ(letters(model), "ABA");
}

// A: channels on transponders 1-3. B: two of them numbered the other way, table in the spare.
struct TwoImages {
    static sim::Transponder transponder(std::uint32_t khz, std::uint8_t flags) {
        return {.frequency = khz, .tid = 1, .nid = 1, .channelCount = 1, .flags = flags};
    }
    static std::vector<std::uint8_t> image(std::vector<sim::Transponder> transponders,
                                           std::uint32_t block,
                                           std::vector<std::pair<std::string, int>> channels) {
        sim::ImageBuilder image(0x40000);
        image.putTransponderTable(sim::kTransponderBlock, transponders);
        std::vector<sim::Channel> list;
        for (auto& [name, transponder] : channels) {
            // Active, and bit 3, which no line shows.
            list.push_back({.name = name,
                            .flags = 0x0C,
                            .transponder = static_cast<std::uint8_t>(transponder),
                            .sid = 0x50,
                            .vpid = 0x100});
        }
        image.putChannelTable(block, list);
        return std::move(image).take();
    }
    std::vector<sim::Transponder> all = {transponder(1'100'000, 0x01), transponder(2'000'000, 0x02),
                                         transponder(1'500'000, 0x00)};
    std::vector<std::uint8_t> first = image(
        all, sim::kChannelBlock, {{"One", 1}, {"Two", 2}, {"Three", 3}, {"Idle", kNoTransponder}});
    std::vector<std::uint8_t> second =
        image({all[1], all[0]}, sim::kSpareTableBlock, {{"Bee", 1}, {"Bop", 2}});
};

TEST(ChannelClipboard, ChannelsFromAnotherImageTakeItsTransponderOrAreRefused) {
    const TwoImages images;
    ChannelEditor editor(DisplayMode::Decimal);
    ChannelListModel& list = editor.channels();
    ASSERT_EQ(editor.load("a.bin", images.first), std::nullopt);
    list.selectOnly(0); // One, on 11700 MHz V: number 1 in A, 2 in B
    list.setSelected(3, true);
    list.copy();
    ASSERT_EQ(editor.load("b.bin", images.second), std::nullopt);
    list.setCurrent(0);
    EXPECT_EQ(list.paste(), std::nullopt);
    EXPECT_EQ(names(list), (Names{"One", "Idle", "Bee", "Bop"}));
    EXPECT_EQ(fieldNumber(list.line(0).text, channel_field::kTransponder), 2);
    EXPECT_EQ(list.line(1).reference, 0U);
    for (const std::size_t b : {2U, 3U}) {
        EXPECT_NE(list.line(0).reference, list.line(b).reference) << "a reference of B's own";
    }
    // The pasted record, its hidden bit included, goes into B under B's number.
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(saveListIntoImage(images.second, "b.bin", dir.file("b2.bin"), list.lines(),
                                  DisplayMode::Decimal, error))
        << error;
    const std::vector<std::uint8_t> saved = test::readBytes(dir.file("b2.bin"));
    const std::size_t record = sim::kSpareTableBlock + 0x44;
    EXPECT_EQ(saved[record + 16], 0x0C);
    EXPECT_EQ(saved[record + 17], 2);

    // Three's transponder is not in B: nothing is pasted, and the message says why.
    ASSERT_EQ(editor.load("a.bin", images.first), std::nullopt);
    list.selectOnly(2);
    list.copy();
    ASSERT_EQ(editor.load("b.bin", images.second), std::nullopt);
    list.setCurrent(1);
    EXPECT_EQ(list.pasteAfter(),
              (Notice{"Channel \"Three\" cannot be pasted into this list: this image has no "
                      "transponder at 11250.000 MHz, V, 22000 kS/s.",
                      "Message"}));
    EXPECT_EQ(list.replace(), list.pasteAfter());
    EXPECT_EQ(names(list), (Names{"Bee", "Bop"}));
    EXPECT_FALSE(list.canUndo());
}

TEST(ChannelClearDelete, ClearKeepsTheCountAndDeleteSelectsTheNextLine) {
    ChannelListModel model = modelOf("ABCDE", {1, 3}, 1);
    model.clear();
    EXPECT_EQ(letters(model), "A*C*E");
    EXPECT_EQ(model.line(1).reference, 0U);
    EXPECT_EQ(model.selectedCount(), 0U);
    model.setSelected(0, true);
    model.setSelected(2, true);
    model.deleteSelected();
    EXPECT_EQ(letters(model), "**E");
    EXPECT_EQ(model.selectedLines(), (std::vector<std::size_t>{0}));
    EXPECT_EQ(model.current(), 0U);
}

TEST(ChannelClearDelete, ClearAllClearsEveryChannelEvenWhenAllAreSelected) {
    // Once done as "Select All" + "Clear": a fully selected list was narrowed by the check boxes.
    ChannelListModel model = modelOf("ABC", {0, 1, 2});
    model.clearAll();
    EXPECT_EQ(letters(model), "***");
}

TEST(ChannelReplace, OverwritesFromTheCurrentLineAndMovesOverwrittenChannelsToTheEnd) {
    const std::string moved(kMovedByReplacement);
    // Moved channels keep their order; the message names the first, also past the old end.
    const struct ReplaceCase {
        std::string_view lines;
        std::size_t from;
        std::string_view clipboard, expected;
        std::string notice; // empty: none
    } cases[] = {
        {"AB--C", 1, "XYZ", "AXYZCB", moved + "6"},
        {"AB-", 2, "XY", "ABXY", ""},
        {"ABCDE", 2, "VWXYZ", "ABVWXYZCDE", moved + "8"},
    };
    for (const ReplaceCase& c : cases) {
        ChannelListModel model;
        model.reset(channelLines(c.clipboard));
        model.inverseSelection();
        model.copy();
        model.reset(channelLines(c.lines));
        model.setSelected(0, true);
        model.setSelected(1, true);
        model.setCurrent(c.from);
        const std::optional<Notice> notice = model.replace();
        EXPECT_EQ(letters(model), c.expected);
        EXPECT_EQ(notice ? notice->text : "", c.notice) << c.expected;
        for (std::size_t i = 0; i < model.size(); ++i) {
            const bool entry = i >= c.from && i < c.from + c.clipboard.size();
            EXPECT_EQ(model.isSelected(i), entry) << c.expected << ", line " << i;
        }
        EXPECT_EQ(model.current(), c.from) << c.expected;
    }
}

TEST(ChannelSelectAll, SecondSelectAllSelectsByTheCheckBoxes) {
    ChannelListModel model;
    model.reset({channelLine("FavOnly", 1, kFlagFavourite),
                 channelLine("FavActive", 1, kFlagFavourite | kFlagActive),
                 channelLine("Plain", 1, 0), channelLine("FavOnly2", 2, kFlagFavourite),
                 channelLine("FavParental", 2, kFlagFavourite | kFlagParental)});
    model.setSelected(2, true);
    EXPECT_EQ(model.selectAll(ChannelFlags{.favourite = true}), std::nullopt);
    EXPECT_EQ(model.selectedCount(), 5U);
    EXPECT_EQ(model.selectAll(ChannelFlags{.favourite = true}),
              (Notice{"2 channel object(s) found.", ""}));
    EXPECT_EQ(model.selectedLines(), (std::vector<std::size_t>{0, 3}));
}

TEST(ChannelDragDrop, DropRulesInBothModes) {
    // Advanced: one line swaps, several replace from the drop line; simple: paste before it.
    const struct DropCase {
        bool advanced;
        std::initializer_list<std::size_t> selected;
        std::size_t current;
        std::optional<std::size_t> target;
        std::string_view expected;
        std::vector<std::size_t> selectedAfter;
        bool pointerUp = false;
    } cases[] = {
        {false, {1}, 1, 4, "ACDBE-", {3}, true}, // moved down three
        {true, {1}, 1, 4, "AECDB-", {4}},
        {false, {}, 0, 5, "BCDEA", {4}, true}, // onto an empty channel: fills it
        {false, {}, 5, 5, "ABCDE-", {5}},      // onto itself
        {false, {}, 0, std::nullopt, "ABCDE-A", {}},
        {true, {0, 1}, 0, 3, "**CAB-DE", {3, 4}},
        {false, {0, 1}, 0, 3, "**CABDE-", {3, 4}},
        {true, {0, 1}, 0, std::nullopt, "**CDE-AB", {}},
    };
    for (const DropCase& c : cases) {
        ChannelListModel model = modelOf("ABCDE-", c.selected, c.current);
        model.setAdvancedDragDrop(c.advanced);
        const DropResult result = model.drop(c.target);
        EXPECT_EQ(letters(model), c.expected);
        EXPECT_EQ(model.selectedLines(), c.selectedAfter) << c.expected;
        EXPECT_EQ(result.pointerUpOneLine, c.pointerUp) << c.expected;
    }
}

TEST(ChannelDragDrop, HoldingThePointerAtAnEdgeScrollsAfterAQuarterSecond) {
    using Action = DragScroll::Action;
    const DragScroll::Pointer top{.pxX = 10, .pxY = 5, .pxWidth = 800, .pxHeight = 300};
    DragScroll scroll;
    scroll.dragOver();
    std::vector<Action> actions;
    for (int tick = 0; tick < 6; ++tick) {
        actions.push_back(scroll.tick(true, top));
    }
    EXPECT_EQ(actions, (std::vector{Action::None, Action::None, Action::None, Action::None,
                                    Action::ScrollUp, Action::ScrollUp}));
    const auto at = [&](int x, int y, bool atTop = false, bool linesBelow = true) {
        return scroll.tick(true, {.pxX = x,
                                  .pxY = y,
                                  .pxWidth = 800,
                                  .pxHeight = 300,
                                  .atTop = atTop,
                                  .linesBelow = linesBelow});
    };
    EXPECT_EQ(at(10, 6), Action::None);
    EXPECT_EQ(at(800, 0), Action::None);
    EXPECT_EQ(at(10, 0, true), Action::None);
    EXPECT_EQ(at(10, 295), Action::ScrollDown);
    EXPECT_EQ(at(10, 300, false, false), Action::None);
    EXPECT_EQ(scroll.tick(false, top), Action::StopTimer);
    scroll.end();
    EXPECT_EQ(scroll.tick(true, top), Action::StopTimer);
}

TEST(ChannelUndo, UndoAndRedoRestoreLinesReferencesSelectionAndCursorExactly) {
    ChannelListModel model;
    model.reset(channelLines("AB-CDEFG"));
    int notified = 0;
    model.setChanged([&] { ++notified; });
    // The state just before and after each edit; the clicks that prepare one are no steps.
    std::vector<std::pair<ListState, ListState>> steps;
    const auto step = [&](auto prepare, auto edit) {
        prepare();
        ListState before = model.state();
        edit();
        steps.emplace_back(std::move(before), model.state());
    };
    step([&] { model.selectOnly(1), model.setSelected(4, true), model.setTop(2); },
         [&] { model.cut(); });
    EXPECT_EQ(model.history().storedLines(), 4U + 2U) << "a step keeps only the changed run";
    step([&] { model.setCurrent(0); }, [&] { model.paste(); });
    step([&] { model.setCurrent(5); }, [&] { model.replace(); });
    step([&] { model.selectOnly(2); }, [&] { model.drop(6); });
    step([&] { model.inverseSelection(); }, [&] { model.deleteSelected(); });
    step([&] { model.selectOnly(0); }, [&] { model.clear(); });
    ASSERT_EQ(model.history().stepCount(), steps.size());
    EXPECT_GT(notified, 12);
    for (std::size_t i = steps.size(); i-- > 0;) {
        ASSERT_TRUE(model.canUndo());
        model.undo();
        EXPECT_EQ(model.state(), steps[i].first) << "undo of step " << i;
    }
    EXPECT_FALSE(model.canUndo());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        model.redo();
        EXPECT_EQ(model.state(), steps[i].second) << "redo of step " << i;
    }
    EXPECT_FALSE(model.canRedo());
    model.undo();
    model.selectOnly(0);
    model.copy();
    model.paste();
    EXPECT_FALSE(model.canRedo()) << "a new edit forgets what could be redone";
}

TEST(ChannelKeys, CtrlArrowsMoveTheSelectedChannelsOnePlaceAsOneStep) {
    const struct {
        std::initializer_list<std::size_t> selected;
        int direction;
        std::string_view after;
        std::vector<std::size_t> selectedAfter;
    } cases[] = {
        {{2}, -1, "ACBDE", {1}},       {{1, 2}, -1, "BCADE", {0, 1}},
        {{0, 2}, -1, "ACBDE", {0, 1}}, // the first stays, the other joins it
        {{1, 3}, 1, "ACBED", {2, 4}},  {{3, 4}, 1, "ABCDE", {3, 4}},
    };
    for (const auto& c : cases) {
        ChannelListModel model = modelOf("ABCDE", c.selected, *c.selected.begin());
        const std::string current = model.line(*c.selected.begin()).text;
        model.moveSelected(c.direction);
        EXPECT_EQ(letters(model), c.after);
        EXPECT_EQ(model.selectedLines(), c.selectedAfter);
        EXPECT_EQ(model.line(*model.current()).text, current) << "the current line moves along";
        EXPECT_EQ(model.history().stepCount(), c.after == "ABCDE" ? 0U : 1U);
    }
}

TEST(ChannelKeys, ShiftExtendsTheSelectionFromTheLinePickedLast) {
    ChannelListModel model = modelOf("ABCDE");
    model.selectOnly(2);
    model.extendSelection(4);
    EXPECT_EQ(model.selectedLines(), (std::vector<std::size_t>{2, 3, 4}));
    model.extendSelection(0);
    EXPECT_EQ(model.selectedLines(), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(model.current(), 0U);
    EXPECT_FALSE(model.canUndo()) << "selecting is no edit";
}

TEST(ChannelSort, AHeadingSortsAscendingThenDescendingAsOneStep) {
    // Names fold case and a blank one stays last; a video PID of none sorts after every number.
    const std::pair<const char*, std::uint16_t> rows[] = {
        {"delta", 0x200}, {"", 0}, {"Alpha", kNoPid}, {"charlie", 0x100}, {"Bravo", 0x300}};
    std::vector<Line> lines;
    for (const auto& [name, vpid] : rows) {
        ChannelRecord r;
        std::copy_n(name, std::strlen(name), r.name.begin());
        r.transponder = 1;
        r.vpid = vpid;
        lines.emplace_back(formatChannelLine(r, DisplayMode::Hexadecimal), 0x20044);
    }
    const std::pair<SortColumn, Names> cases[] = {
        {SortColumn::Name, {"Alpha", "Bravo", "charlie", "delta", "-"}},
        {SortColumn::Vpid, {"-", "charlie", "delta", "Bravo", "Alpha"}},
    };
    for (const auto& [column, ascending] : cases) {
        ChannelListModel model;
        model.reset(lines);
        model.selectOnly(2);
        model.sortBy(column, DisplayMode::Hexadecimal);
        EXPECT_EQ(names(model), ascending);
        EXPECT_EQ(names(model)[*model.current()], "Alpha") << "the current line moves along";
        model.sortBy(column, DisplayMode::Hexadecimal);
        Names descending = ascending;
        // Blank names stay last; everything else turns round.
        const auto blank = column == SortColumn::Name ? descending.end() - 1 : descending.end();
        std::reverse(descending.begin(), blank);
        EXPECT_EQ(names(model), descending);
        EXPECT_EQ(model.history().stepCount(), 2U);
        model.undo();
        model.undo();
        EXPECT_EQ(model.lines(), lines);
    }
}

// News and Radio on transponder 1, Sport and Movies on 2, none on 3, one empty channel.
ChannelEditor loadedEditor(DisplayMode mode = DisplayMode::Decimal) {
    sim::ImageBuilder image(0x40000);
    const sim::Transponder transponder{.frequency = 1'100'000, .tid = 1, .nid = 1};
    image.putTransponderTable(sim::kTransponderBlock, std::vector(3, transponder));
    const auto at = [](const char* name, std::uint8_t transponder, std::uint16_t vpid,
                       std::uint16_t apid = kNoPid) {
        return sim::Channel{
            .name = name, .transponder = transponder, .sid = 7, .vpid = vpid, .apid = apid};
    };
    image.putChannelTable(sim::kChannelBlock,
                          std::vector{at("News", 1, 0x1FF), at("Sport", 2, 0x300),
                                      at("Radio", 1, kNoPid, 0x200), at("", kNoTransponder, kNoPid),
                                      at("Movies", 2, 0x400)});
    ChannelEditor editor(mode);
    EXPECT_EQ(editor.load("image.bin", image.bytes()), std::nullopt);
    return editor;
}

std::vector<TransponderLineKind> kinds(const TransponderListModel& list) {
    std::vector<TransponderLineKind> shown;
    for (std::size_t i = 0; i < list.size(); ++i) {
        shown.push_back(list.kind(i));
    }
    return shown;
}

using enum TransponderLineKind;

TEST(TransponderExpansion, CollapsingOneTransponderKeepsTheOtherBlocks) {
    ChannelEditor editor = loadedEditor();
    TransponderListModel& list = editor.transponders();
    list.setCurrent(list.findTransponder(2));
    EXPECT_EQ(editor.toggleTransponderChannels(), std::nullopt);
    list.setCurrent(0);
    EXPECT_EQ(editor.toggleTransponderChannels(), std::nullopt);
    EXPECT_EQ(kinds(list), (std::vector{Transponder, Spacer, Header, ChannelSubLine, ChannelSubLine,
                                        Footer, Transponder, Spacer, Header, ChannelSubLine,
                                        ChannelSubLine, Footer, Transponder, Transponder}));
    EXPECT_EQ(list.line(4).text, editor.channels().line(2).text + "    3;");
    EXPECT_EQ(list.line(4).reference, editor.channels().line(2).reference);
    EXPECT_EQ(list.line(5).text, "2");
    editor.toggleTransponderChannels();
    EXPECT_EQ(kinds(list), (std::vector{Transponder, Transponder, Spacer, Header, ChannelSubLine,
                                        ChannelSubLine, Footer, Transponder, Transponder}));
    list.setCurrent(list.findTransponder(3));
    EXPECT_EQ(editor.toggleTransponderChannels(),
              (Notice{std::string(kNoChannelsConnected), "Message"}));
}

TEST(TransponderExpansion, ExpandAllListsEachTransponderAndCollapseAllUndoesIt) {
    ChannelEditor editor = loadedEditor();
    editor.channels().selectOnly(1);
    editor.channels().clear(); // a cleared channel is listed under the empty-channel line
    const std::vector<Line> collapsed = editor.transponders().lines();
    ChannelEditor byHand = loadedEditor();
    byHand.channels().selectOnly(1);
    byHand.channels().clear();
    for (std::size_t t = collapsed.size(); t-- > 0;) {
        byHand.transponders().setCurrent(t);
        byHand.toggleTransponderChannels();
    }
    editor.transponders().setCurrent(1);
    editor.expandAll();
    EXPECT_EQ(editor.transponders().lines(), byHand.transponders().lines());
    EXPECT_EQ(editor.transponders().current(), 6U) << "the current transponder stays current";
    const std::size_t empty = *editor.transponders().findTransponder(255);
    EXPECT_EQ(editor.transponders().line(empty + 5).text, "2") << "empty and cleared channel";
    editor.collapseAll();
    EXPECT_EQ(editor.transponders().lines(), collapsed);
    EXPECT_EQ(editor.transponders().current(), 1U);
}

TEST(ChannelSearch, APickedResultSearchesForTheNameAgain) {
    ChannelEditor editor = loadedEditor();
    editor.channels().selectOnly(4);
    editor.setSearchText("radio");
    editor.search();
    const std::vector<SearchResult> first{{"Radio            (3)", 2}};
    EXPECT_EQ(editor.searchResults(), first);
    EXPECT_EQ(editor.searchText(), first[0].text);
    EXPECT_EQ(editor.channels().selectedLines(), (std::vector<std::size_t>{2}));
    EXPECT_EQ(editor.channels().top(), 2U);
    editor.channels().selectOnly(0);
    editor.search();
    EXPECT_EQ(editor.searchResults(), first);
    editor.setSearchText("");
    editor.search();
    EXPECT_TRUE(editor.searchResults().empty());
    EXPECT_EQ(editor.channels().selectedCount(), 0U);
}

TEST(ChannelSearch, PidTextsAndTheTransponderPage) {
    ChannelEditor hex = loadedEditor(DisplayMode::Hexadecimal);
    hex.setSearchText("1ff");
    hex.search();
    ASSERT_EQ(hex.searchResults().size(), 1U);
    EXPECT_EQ(hex.searchResults()[0].index, 0U);
    ChannelEditor editor = loadedEditor();
    editor.search();
    editor.setSearchText("1ff");
    editor.search();
    EXPECT_TRUE(editor.searchResults().empty()) << "decimal mode shows 511";
    editor.showPage(EditorPage::Transponders);
    editor.setSearchText("empty");
    editor.search();
    EXPECT_EQ(editor.searchResults(), (std::vector<SearchResult>{{"EMPTY (4)", 3}}));
    EXPECT_EQ(editor.transponders().current(), 3U);
    editor.channels().selectOnly(0);
    editor.selectSearchResults();
    EXPECT_EQ(editor.channels().selectedLines(), (std::vector<std::size_t>{0}))
        << "results of the transponder page name no channels";
}

TEST(ChannelWalks, JumpsBetweenTheLists) {
    ChannelEditor editor = loadedEditor();
    TransponderListModel& list = editor.transponders();
    EXPECT_EQ(editor.jumpToTransponder(), (Notice{std::string(kInvalidOperation), ""}));
    editor.channels().selectOnly(4);
    EXPECT_EQ(editor.viewFamilyChannels(), std::nullopt);
    EXPECT_EQ(editor.page(), EditorPage::Transponders);
    EXPECT_EQ(list.current(), 1U);
    EXPECT_EQ(list.top(), 1U);
    EXPECT_TRUE(list.isExpanded(1));
    EXPECT_EQ(editor.jumpToChannel(), (Notice{std::string(kInvalidJump), "Message"}));
    list.setCurrent(5); // Movies' sub-line
    EXPECT_EQ(editor.jumpToChannel(), std::nullopt);
    EXPECT_EQ(editor.page(), EditorPage::Channels);
    EXPECT_EQ(editor.channels().selectedLines(), (std::vector<std::size_t>{4}));
    EXPECT_EQ(editor.channels().current(), 4U);
    list.setCurrent(0);
    EXPECT_EQ(editor.selectTransponderChannels(), std::nullopt);
    EXPECT_EQ(editor.channels().selectedLines(), (std::vector<std::size_t>{0, 2}));
    list.setCurrent(list.findTransponder(3));
    EXPECT_EQ(editor.selectTransponderChannels(),
              (Notice{std::string(kNoChannelsFound), "Message"}));
}

TEST(ChannelWalks, EditPanelAndCategory) {
    ChannelEditor editor = loadedEditor();
    ChannelListModel& channels = editor.channels();
    channels.selectOnly(0);
    const EditPanelValues values = channels.editPanel();
    EXPECT_EQ(values.name, "News            ");
    EXPECT_EQ(values.transponder, "1");
    EXPECT_EQ(values.vpid, "511");
    EXPECT_EQ(values.apid, "-");
    channels.setSelected(1, true);
    EXPECT_EQ(channels.editPanel(), EditPanelValues{});
    channels.setCurrent(1);
    channels.selectCategory();
    EXPECT_EQ(channels.selectedLines(), (std::vector<std::size_t>{0, 1, 4}));
    EXPECT_EQ(channels.current(), 0U);
}

} // namespace
} // namespace corvex::test
