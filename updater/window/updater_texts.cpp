#include "updater/window/updater_texts.h"

#include <array>

namespace {

const char* const kMessages[] = {
    nullptr,
    "[ERROR:001]  Command transmission was failed.  (Securement of communication pathway )",
    "[ERROR:002]  Command transmission was failed.  (Acquisition of communication control authority)",
    "[ERROR:003]  Command transmission was failed.  (Control authority open)",
    "[ERROR:004]  Command transmission was failed.  (Disconnection of communication pathway )",
    "[ERROR:101]  Command transmission was failed.  (Update changeover)",
    "[ERROR:102]  Command transmission was failed.  (File writing)\nPlease power off and power on.\nand Restart "
    "this Update Program.",
    "[ERROR:104]  Command transmission was failed.  (Version acquisition)",
    "[ERROR:105]  Command transmission was failed.  (Acquisition of device name)",
    "[ERROR:005]  Communication pathway couldn't be secured.",
    "[ERROR:006]  Control authority couldn't be obtained.",
    nullptr, // release refused: the run goes on, the line stays
    nullptr, // pathway not closed: likewise
    "[ERROR:106]  Update changeover was failed.",
    "[ERROR:107]  File writing was failed.\nPlease power off and power on.\nand Restart this Update Program.",
    "[ERROR:108]  Version acquisition was failed.",
    "[ERROR:109]  Obtaining device name was failed.",
    "[ERROR:112] Device was mismatched.",
    "[ERROR:110]  The command is wrong.",
    "[ERROR:008]  An illegal command has been being transmitted.",
    "[ERROR:009]  Z Series is not an update mode.",
    nullptr, // connected: depends on the match
    "Update was completed.\nClose this Update Program.",
};

constexpr uint16_t kCodeMismatched = 17;
constexpr uint16_t kCodeConnected = 21;
constexpr int32_t kTopBit = static_cast<int32_t>(0x80000000u);

enum Box { Fatal, PathTooLong, InvalidFile, FolderLocked };

const std::array<MessageBoxRecord, 4>& boxes()
{
    static const std::array<MessageBoxRecord, 4> records{{
        {MessageBoxRecord::Critical, QStringLiteral("FATAL ERROR"),
            QStringLiteral("Unexpected error occurred.\n")
                + QStringLiteral("Please restart the Update software and try again.")},
        {MessageBoxRecord::Critical, QStringLiteral("FILE READ ERROR"),
            QStringLiteral("Cannot unpack the file.\n") + QStringLiteral("File path may be too long.\n")
                + QStringLiteral("Make sure that the file path is less than 260 characters.")},
        {MessageBoxRecord::Critical, QStringLiteral("FILE READ ERROR"),
            QStringLiteral("Invalid file.\n") + QStringLiteral("Select a valid file.")},
        {MessageBoxRecord::Critical, QStringLiteral("FILE READ ERROR"),
            QStringLiteral("Cannot unpack the file.\n") + QStringLiteral("User directory cannot be edited.\n")
                + QStringLiteral("Make sure that edits to this directory are permitted.")},
    }};
    return records;
}

} // namespace

QString updaterMessageText(uint16_t code, bool matched)
{
    if (code == kCodeConnected)
        return matched ? QStringLiteral("Connection was completed.") : QLatin1String(kMessages[kCodeMismatched]);
    if (code >= sizeof kMessages / sizeof kMessages[0] || !kMessages[code])
        return QString();
    return QLatin1String(kMessages[code]);
}

const MessageBoxRecord* packageBoxFor(int32_t result)
{
    switch (result & ~kTopBit) {
    case 1:
    case 5:
    case 11:
        return &boxes()[Fatal];
    case 2:
        return &boxes()[PathTooLong];
    case 3:
    case 4:
    case 7:
    case 8:
    case 10:
        return &boxes()[InvalidFile];
    case 9:
        return &boxes()[FolderLocked];
    default:
        return nullptr;
    }
}
