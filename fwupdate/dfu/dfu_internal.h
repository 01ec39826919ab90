// Shared by the front's source files only.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class DanteFirmwareUpdateModule;

// Takes the process-wide instance lock and gives the live instance (null
// when there is none); the instance stays alive while the lock is held.
std::unique_lock<std::mutex> dfu_lockInstance(DanteFirmwareUpdateModule** out);

// Length of a UTF-16 text within `capacity` units (capacity when it has no
// terminator there).
size_t dfu_utf16Length(const char16_t* text, size_t capacity);

// UTF-16 (up to its terminator, at most `capacity` units) to UTF-8; false
// for an unpaired surrogate, which names no file.
bool dfu_utf16ToUtf8(const char16_t* text, size_t capacity, std::string* out);
