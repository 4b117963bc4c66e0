#include "controls/message_box_rules.h"

#include "platform/profile_store.h"

namespace message_box {

namespace {
// The button sets by the style's low nibble; the optional "to all" buttons are added by
// PlanFor after their neighbours.
void AddSet(uint32_t style, Plan& plan) {
    auto add = [&plan](int command, int string_id) {
        plan.buttons.push_back({command, string_id});
    };
    auto add_yes_no = [&] {
        add(kIdYes, 9007);
        if (style & kYesToAll) add(kIdYesToAll, 9008);
        add(kIdNo, 9009);
        if (style & kNoToAll) add(kIdNoToAll, 9010);
    };
    switch (style & kButtonSetMask) {
        case 1:
            add(kIdOk, 9001), add(kIdCancel, 9002);
            plan.default_button = kIdOk, plan.escape_button = kIdCancel;
            break;
        case 2:
            add(kIdAbort, 9003), add(kIdRetry, 9004), add(kIdIgnore, 9005);
            plan.default_button = kIdAbort;
            break;
        case 3:
            add_yes_no(), add(kIdCancel, 9002);
            plan.default_button = kIdYes, plan.escape_button = kIdCancel;
            break;
        case 4:
            add_yes_no();
            plan.default_button = kIdYes;
            break;
        case 5:
            add(kIdRetry, 9004), add(kIdCancel, 9002);
            plan.default_button = kIdRetry, plan.escape_button = kIdCancel;
            break;
        case 6:
            add(kIdCancel, 9002), add(kIdTryAgain, 9004), add(kIdContinue, 9011);
            plan.default_button = kIdCancel, plan.escape_button = kIdCancel;
            break;
        case 7:
            add(kIdContinue, 9011), add(kIdAbort, 9003);
            plan.default_button = kIdContinue;
            break;
        case 8:
            add(kIdSkip, 9013), add(kIdSkipAll, 9014), add(kIdCancel, 9002);
            plan.default_button = kIdSkip, plan.escape_button = kIdCancel;
            break;
        case 9:
            add(kIdIgnore, 9005), add(kIdIgnoreAll, 9006), add(kIdCancel, 9002);
            plan.default_button = kIdIgnore, plan.escape_button = kIdCancel;
            break;
        default:  // 0 and every value above 9
            add(kIdOk, 9001);
            plan.default_button = kIdOk, plan.escape_button = kIdOk;
            break;
    }
}
}  // namespace

Plan PlanFor(uint32_t style) {
    Plan plan;
    AddSet(style, plan);
    if (style & kHelpButton) plan.buttons.push_back({kIdHelp, 9015});
    // 0x100 … 0x500 pick the button at index 1 … 5, when the row has that many.
    const size_t index = (style & kDefaultButtonMask) >> 8;
    if (index >= 1 && index <= 5 && index < plan.buttons.size())
        plan.default_button = plan.buttons[index].command;
    const uint32_t icon = style & kIconMask;
    if (icon == kIconStop || icon == kIconQuestion || icon == kIconExclamation ||
        icon == kIconInformation)
        plan.icon = icon;
    if (style & kDoNotShowAgain)
        plan.check_box_text = 9016;
    else if (style & kDoNotAskAgain)
        plan.check_box_text = 9017;
    plan.check_box_ticked = plan.check_box_text != 0 && (style & kCheckBoxTicked) != 0;
    return plan;
}

std::string ValueName(const std::string& message, int32_t help_id) {
    if (help_id != 0) return std::to_string(help_id);
    uint32_t sum = 0;
    for (size_t i = 1; i < message.size(); ++i)
        sum += static_cast<uint32_t>(i) *
               static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(message[i])));
    return std::to_string(static_cast<int32_t>(sum));
}

std::optional<int> AnswerWithoutShowing(uint32_t style, const std::string& value_name,
                                        int32_t stored_result) {
    if ((style & (kDoNotShowAgain | kDoNotAskAgain)) == 0) return std::nullopt;
    int answer = platform::Profile().GetInt(kSection, value_name, -1);
    if (stored_result > 0) answer = stored_result;
    if (answer == -1) return std::nullopt;
    return (style & kDoNotAskAgain) ? answer : kNotShown;
}

void RememberAnswer(const std::string& value_name, int answer) {
    platform::Profile().WriteInt(kSection, value_name, answer);
}

}  // namespace message_box
