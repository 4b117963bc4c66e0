// What a message box shows and answers, decided from its style bits alone: the button row,
// the default and escape buttons, the icon, the check box, and the remembered answer kept in
// section "Messages" of the profile store. No window code: the dialog lays this out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace message_box {

// Style bits of the system's message box that this box honours.
inline constexpr uint32_t kButtonSetMask = 0x0000000F;
inline constexpr uint32_t kIconMask = 0x000000F0;
inline constexpr uint32_t kDefaultButtonMask = 0x00000F00;
inline constexpr uint32_t kSystemModal = 0x00001000;
inline constexpr uint32_t kHelpButton = 0x00004000;
inline constexpr uint32_t kForeground = 0x00010000;
inline constexpr uint32_t kTopMost = 0x00040000;
inline constexpr uint32_t kRightAligned = 0x00080000;
inline constexpr uint32_t kRightToLeft = 0x00100000;
// Bits of this box only.
inline constexpr uint32_t kDoNotShowAgain = 0x01000000;
inline constexpr uint32_t kDoNotAskAgain = 0x02000000;
inline constexpr uint32_t kYesToAll = 0x04000000;
inline constexpr uint32_t kNoToAll = 0x08000000;
inline constexpr uint32_t kButtonsRight = 0x10000000;
inline constexpr uint32_t kNoSound = 0x20000000;
inline constexpr uint32_t kCheckBoxTicked = 0x40000000;

// Icon classes by bits 0x00F0.
inline constexpr uint32_t kIconStop = 0x10;
inline constexpr uint32_t kIconQuestion = 0x20;
inline constexpr uint32_t kIconExclamation = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;

// Command ids of the answers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kIdHelp = 9;
inline constexpr int kIdTryAgain = 10;
inline constexpr int kIdContinue = 11;
inline constexpr int kIdYesToAll = 14;
inline constexpr int kIdNoToAll = 15;
inline constexpr int kIdSkip = 16;
inline constexpr int kIdSkipAll = 17;
inline constexpr int kIdIgnoreAll = 18;
inline constexpr int kIdCheckBox = 19;
inline constexpr int kNoButton = -1;
// What DoModal() returns for a "do not show again" box it did not show: no button has it.
inline constexpr int kNotShown = 0x40000000;

inline constexpr const char* kSection = "Messages";

struct Button {
    int command;
    int string_id;
};

struct Plan {
    std::vector<Button> buttons;  // left to right
    int default_button = kNoButton;
    int escape_button = kNoButton;
    uint32_t icon = 0;       // one of the icon classes, 0 for none
    int check_box_text = 0;  // string 9016 or 9017, 0 for no check box
    bool check_box_ticked = false;
};

Plan PlanFor(uint32_t style);

// The value name in "Messages": the help id in decimal when it is not 0, else the checksum of
// the message (the sum of i × byte[i] over its bytes read as signed, wrapping at 32 bits).
std::string ValueName(const std::string& message, int32_t help_id);

// The answer DoModal() gives without showing the box, if any: the value read from "Messages"
// (or `stored_result` when the caller set it above 0) for a "do not ask again" box, kNotShown
// for a "do not show again" box with an answer on record.
std::optional<int> AnswerWithoutShowing(uint32_t style, const std::string& value_name,
                                        int32_t stored_result);

// Records the answer of a box whose check box was ticked.
void RememberAnswer(const std::string& value_name, int answer);

}  // namespace message_box
