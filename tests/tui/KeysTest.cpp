#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/model/Input.h"
#include "framework/tui/Curses.h"
#include "framework/tui/Input.h"

using fw::tui::Input;
using fw::tui::KeySource;
using fw::tui::Stroke;

namespace {

struct ReadCase {
    const char* name;
    std::vector<int> bytes;
    bool utf8;
    std::vector<std::pair<int, bool>> keys; // key, alt
};

const ReadCase kReadCases[] = {
    {"ESC and a letter is Alt with the letter", {27, 'r'}, true, {{'r', true}}},
    {"ESC alone is Esc", {27}, true, {{27, false}}},
    {"ESC before another key is Esc, then that key",
     {27, '\t'},
     true,
     {{27, false}, {'\t', false}}},
    {"an unknown CSI sequence is dropped whole",
     {27, '[', '1', ';', '5', 'Z', 'u'},
     true,
     {{'u', false}}},
    {"an unknown SS3 sequence is dropped whole", {27, 'O', 'P'}, true, {}},
    {"the eighth bit is Alt in an 8-bit terminal", {0x80 | 'u'}, false, {{'u', true}}},
    {"the eighth bit, UTF-8 encoded, is Alt in a UTF-8 terminal",
     {0xC3, 0xB5},
     true,
     {{'u', true}}},
    {"an upper-case meta letter", {0xC3, 0x84}, true, {{'D', true}}},
    {"a UTF-8 character that is no meta letter stays two bytes",
     {0xC2, 0xA9, 'x'},
     true,
     {{0xC2, false}, {0xA9, false}, {'x', false}}},
    {"a lead byte of UTF-8 is no meta letter in a UTF-8 terminal",
     {0xE1, 0x80, 0x80},
     true,
     {{0xE1, false}, {0x80, false}, {0x80, false}}},
};

// The terminal's bytes, as curses' getch and ungetch would give and take them back.
KeySource Bytes(std::deque<int>& pending, bool utf8) {
    return {[&pending] {
                if (pending.empty()) {
                    return ERR;
                }
                const int key = pending.front();
                pending.pop_front();
                return key;
            },
            [&pending](int key) { pending.push_front(key); }, utf8};
}

TEST(Keys, BytesFromTheTerminalBecomeKeysWithAlt) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.name);
        std::deque<int> pending(c.bytes.begin(), c.bytes.end());
        const KeySource source = Bytes(pending, c.utf8);
        std::vector<std::pair<int, bool>> seen;
        Input::ReadKeys(source, [&seen](int key, bool alt) {
            seen.emplace_back(key, alt);
            return true;
        });
        EXPECT_EQ(seen, c.keys);
    }
}

TEST(Keys, AKeyTheHandlerStopsAtLeavesTheRestWaiting) {
    // Esc and Tab together: the handler takes Esc only, and Tab is read next time.
    std::deque<int> pending{27, '\t'};
    const KeySource source = Bytes(pending, true);
    std::vector<int> seen;
    const auto once = [&seen](int key, bool) {
        seen.push_back(key);
        return false;
    };
    Input::ReadKeys(source, once);
    Input::ReadKeys(source, once);
    EXPECT_EQ(seen, (std::vector<int>{27, '\t'}));
}

struct StrokeCase {
    int key;
    bool alt;
    std::optional<Stroke> stroke;
};

const StrokeCase kStrokeCases[] = {
    {'\t', false, Stroke{VK_TAB}},
    {KEY_BTAB, false, Stroke{VK_TAB, true}},
    {'\r', false, Stroke{VK_RETURN}},
    {'\n', false, Stroke{VK_RETURN}},
    {KEY_ENTER, false, Stroke{VK_RETURN}},
    {27, false, Stroke{VK_ESCAPE}},
    {' ', false, Stroke{VK_SPACE}},
    {KEY_UP, false, Stroke{VK_UP}},
    {KEY_DOWN, false, Stroke{VK_DOWN}},
    {KEY_LEFT, false, Stroke{VK_LEFT}},
    {KEY_RIGHT, false, Stroke{VK_RIGHT}},
    {KEY_PPAGE, false, Stroke{VK_PRIOR}},
    {KEY_NPAGE, false, Stroke{VK_NEXT}},
    {KEY_HOME, false, Stroke{VK_HOME}},
    {KEY_END, false, Stroke{VK_END}},
    {'u', false, Stroke{'U'}},
    {'U', false, Stroke{'U', true}},
    {'7', false, Stroke{'7'}},
    {'r', true, Stroke{'R', false, true}},
    {'R', true, Stroke{'R', true, true}},
    {KEY_F(1), false, std::nullopt},
    {'-', false, std::nullopt},
    {'\t', true, std::nullopt},
};

TEST(Keys, CursesKeysBecomeTheModelsVirtualKeys) {
    for (const StrokeCase& c : kStrokeCases) {
        SCOPED_TRACE(std::to_string(c.key) + (c.alt ? " with Alt" : ""));
        EXPECT_EQ(Input::StrokeFor(c.key, c.alt), c.stroke);
    }
}

} // namespace
