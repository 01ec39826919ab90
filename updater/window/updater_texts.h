// What the operator reads: the message line's text for each code of the
// engine, and the boxes shown when the package reader refuses a file.
// Operators follow these texts, so they stand exactly as written.
#pragma once

#include <QString>

#include <cstdint>

struct MessageBoxRecord {
    enum Kind { Information = 0, Warning = 1, Critical = 2, Question = 3 };
    Kind kind;
    QString title;
    QString text;
};

// The text that replaces the message line for an engine code; null for the
// codes that leave it as it is (11, 12 and codes the engine never sends).
// Code 21 says whether the connected unit fits the image.
QString updaterMessageText(uint16_t code, bool matched);

// The box for a package reader result, chosen by the code without its top
// bit; null for success, 6 and codes without a box. The records are built
// once, at the first call.
const MessageBoxRecord* packageBoxFor(int32_t result);
