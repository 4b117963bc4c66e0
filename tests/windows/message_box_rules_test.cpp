// The message box's decisions without a window: button rows, default and escape buttons,
// value names and the answers given without showing the box.
#include "controls/message_box_rules.h"

#include <gtest/gtest.h>

#include "platform/profile_store.h"

using namespace message_box;

namespace {
std::vector<int> Commands(const Plan& plan) {
    std::vector<int> commands;
    for (const Button& button : plan.buttons) commands.push_back(button.command);
    return commands;
}

class MessageBoxRules : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetProfile(platform::MakeMemoryProfileStore()); }
};
}  // namespace

TEST_F(MessageBoxRules, EveryButtonSetWithItsDefaultAndEscape) {
    struct Case {
        uint32_t set;
        std::vector<int> commands;
        std::vector<int> strings;
        int default_button, escape_button;
    };
    const Case cases[] = {
        {0, {1}, {9001}, 1, 1},
        {1, {1, 2}, {9001, 9002}, 1, 2},
        {2, {3, 4, 5}, {9003, 9004, 9005}, 3, kNoButton},
        {3, {6, 7, 2}, {9007, 9009, 9002}, 6, 2},
        {4, {6, 7}, {9007, 9009}, 6, kNoButton},
        {5, {4, 2}, {9004, 9002}, 4, 2},
        {6, {2, 10, 11}, {9002, 9004, 9011}, 2, 2},
        {7, {11, 3}, {9011, 9003}, 11, kNoButton},
        {8, {16, 17, 2}, {9013, 9014, 9002}, 16, 2},
        {9, {5, 18, 2}, {9005, 9006, 9002}, 5, 2},
        {10, {1}, {9001}, 1, 1},
        {15, {1}, {9001}, 1, 1},
    };
    for (const Case& c : cases) {
        const Plan plan = PlanFor(c.set);
        SCOPED_TRACE("set " + std::to_string(c.set));
        EXPECT_EQ(Commands(plan), c.commands);
        std::vector<int> strings;
        for (const Button& button : plan.buttons) strings.push_back(button.string_id);
        EXPECT_EQ(strings, c.strings);
        EXPECT_EQ(plan.default_button, c.default_button);
        EXPECT_EQ(plan.escape_button, c.escape_button);
    }
}

TEST_F(MessageBoxRules, ToAllButtonsHelpAndDefaultIndex) {
    // The overwrite question: yes, yes to all, no, no to all; no escape; question icon.
    const Plan question = PlanFor(0x0C000024);
    EXPECT_EQ(Commands(question), (std::vector<int>{6, 14, 7, 15}));
    EXPECT_EQ(question.default_button, kIdYes);
    EXPECT_EQ(question.escape_button, kNoButton);
    EXPECT_EQ(question.icon, kIconQuestion);
    EXPECT_EQ(question.check_box_text, 0);

    EXPECT_EQ(Commands(PlanFor(3 | kNoToAll)), (std::vector<int>{6, 7, 15, 2}));
    EXPECT_EQ(Commands(PlanFor(1 | kHelpButton)), (std::vector<int>{1, 2, 9}));
    // 0x100 … 0x500 pick the button at that index when the row has it.
    EXPECT_EQ(PlanFor(0x0C000024 | 0x300).default_button, kIdNoToAll);
    EXPECT_EQ(PlanFor(2 | 0x200).default_button, kIdIgnore);
    EXPECT_EQ(PlanFor(1 | 0x200).default_button, kIdOk);  // two buttons: the set's default
    EXPECT_EQ(PlanFor(1 | 0x100).default_button, kIdCancel);
    EXPECT_EQ(PlanFor(1 | 0x600).default_button, kIdOk);
}

TEST_F(MessageBoxRules, IconsAndCheckBoxes) {
    EXPECT_EQ(PlanFor(0x10).icon, kIconStop);
    EXPECT_EQ(PlanFor(0x40).icon, kIconInformation);
    EXPECT_EQ(PlanFor(0x50).icon, 0u);
    EXPECT_EQ(PlanFor(kDoNotShowAgain).check_box_text, 9016);
    EXPECT_EQ(PlanFor(kDoNotAskAgain).check_box_text, 9017);
    EXPECT_EQ(PlanFor(kDoNotShowAgain | kDoNotAskAgain).check_box_text, 9016);
    EXPECT_FALSE(PlanFor(kDoNotShowAgain).check_box_ticked);
    EXPECT_TRUE(PlanFor(kDoNotShowAgain | kCheckBoxTicked).check_box_ticked);
    EXPECT_FALSE(PlanFor(kCheckBoxTicked).check_box_ticked);  // no box, nothing ticked
}

TEST_F(MessageBoxRules, ValueNames) {
    EXPECT_EQ(ValueName("anything", 4711), "4711");
    EXPECT_EQ(ValueName("", 0), "0");
    // 1×'b' + 2×'c' = 98 + 198.
    EXPECT_EQ(ValueName("abc", 0), "296");
    EXPECT_EQ(ValueName("Xbc", 0), ValueName("abc", 0));  // the first byte never counts
    EXPECT_NE(ValueName("acb", 0), ValueName("abc", 0));
    // Bytes above 0x7F count as negative: "é" in UTF-8 is C3 A9; 1 × (int8)0xA9 = -87.
    EXPECT_EQ(ValueName("\xC3\xA9", 0), "-87");
    // Wrapping 32-bit arithmetic: a long text gives the same number as computed by hand.
    const std::string long_text(100000, '\x7F');
    uint32_t sum = 0;
    for (uint32_t i = 1; i < long_text.size(); ++i) sum += i * 127u;
    EXPECT_EQ(ValueName(long_text, 0), std::to_string(static_cast<int32_t>(sum)));
}

TEST_F(MessageBoxRules, AnswersWithoutShowing) {
    // No check box bits: always shown.
    EXPECT_FALSE(AnswerWithoutShowing(0x24, "7", 6).has_value());
    // Nothing on record: shown.
    EXPECT_FALSE(AnswerWithoutShowing(kDoNotShowAgain, "7", -1).has_value());
    EXPECT_FALSE(AnswerWithoutShowing(kDoNotAskAgain, "7", 0).has_value());
    // A caller's positive stored result stands for a recorded answer.
    EXPECT_EQ(AnswerWithoutShowing(kDoNotShowAgain, "7", 1), kNotShown);
    EXPECT_EQ(AnswerWithoutShowing(kDoNotAskAgain, "7", kIdNo), kIdNo);

    RememberAnswer("8", kIdYes);
    EXPECT_EQ(platform::Profile().GetInt(kSection, "8", -1), kIdYes);
    EXPECT_EQ(AnswerWithoutShowing(kDoNotAskAgain | 4, "8", -1), kIdYes);
    EXPECT_EQ(AnswerWithoutShowing(kDoNotShowAgain, "8", -1), kNotShown);
    // Both bits: the stored answer, as for a question.
    EXPECT_EQ(AnswerWithoutShowing(kDoNotShowAgain | kDoNotAskAgain, "8", -1), kIdYes);
}
