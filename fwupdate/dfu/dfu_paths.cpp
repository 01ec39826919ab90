// The .dnt paths: split into the folder and the two file names, handed to
// the agent, and each file's information read back.
#include "fwupdate/dfu/dfu.h"
#include "fwupdate/dfu/dfu_internal.h"

#include "app/app_log.h"

#include <cstring>
#include <utility>

namespace {

using FileName = std::array<char16_t, DFU_PATH_CHARS>;
using Folder = std::array<char16_t, DFA_DNT_NAME_CHARS>;

bool isSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

void appendUtf8(uint32_t code, std::string* out)
{
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

size_t dfu_utf16Length(const char16_t* text, size_t capacity)
{
    size_t n = 0;
    while (text != nullptr && n < capacity && text[n] != 0)
        ++n;
    return n;
}

bool dfu_utf16ToUtf8(const char16_t* text, size_t capacity, std::string* out)
{
    out->clear();
    const size_t length = dfu_utf16Length(text, capacity);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u), out);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            return false;
        } else {
            appendUtf8(unit, out);
        }
    }
    return true;
}

DfuResult DanteFirmwareUpdateModule::setDanteFilePath(const char16_t* path0, const char16_t* path1)
{
    std::array<FileName, DFU_SLOTS> files{};
    Folder folder{};
    const char16_t* paths[DFU_SLOTS] = {path0, path1};
    for (size_t slot = 0; slot < DFU_SLOTS; ++slot) {
        const size_t length = dfu_utf16Length(paths[slot], DFU_PATH_CHARS);
        if (slot == 1 && length == 0)
            break; // slot 1 stays empty
        size_t separator = 0;
        for (size_t i = 1; i < length; ++i) {
            if (isSeparator(paths[slot][i]))
                separator = i;
        }
        if (separator == 0) {
            appLogWrite("[ERROR] illegal file path! DanteFirmwareUpdateModule::setDanteFilePath()");
            return DFU_E_ILLEGAL_PATH;
        }
        if (slot == 0) {
            // A cut folder would name another folder.
            if (separator > DFU_FOLDER_MAX) {
                appLogWrite("[ERROR] too long file path! DanteFirmwareUpdateModule::setDanteFilePath()");
                return DFU_E_PATH_TOO_LONG;
            }
            std::copy(paths[0], paths[0] + separator, folder.begin());
        }
        std::copy(paths[slot] + separator + 1, paths[slot] + length, files[slot].begin());
    }

    if (const DfuResult r = applyDanteFiles(folder, files); r != DFU_OK)
        return r;
    // The agent hands slot 0's file to Brooklyn-2 modules and slot 1's to
    // Brooklyn-3 ones, while a package lists its files in the order its
    // folder gives them: a module must never be sent the other module's
    // firmware, so the files go to the slots their headers name.
    if (slotsCrossed(files)) {
        appLogWrite("[DFU] Dante files swapped to the slots of their modules");
        std::swap(files[0], files[1]);
        return applyDanteFiles(folder, files);
    }
    return DFU_OK;
}

bool DanteFirmwareUpdateModule::slotsCrossed(const SlotFiles& files) const
{
    uint8_t brooklyn2[DFA_MODEL_ID_SIZE];
    uint8_t brooklyn3[DFA_MODEL_ID_SIZE];
    if (dfa_get_model_id_of_type(brooklyn2, DFU_MODULE_BKLYN2) != DFA_ERR_NOERR
        || dfa_get_model_id_of_type(brooklyn3, DFU_MODULE_BKLYN3) != DFA_ERR_NOERR)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    const bool firstIsBrooklyn3
        = files[0][0] != 0 && std::memcmp(m_slots[0].info.platform, brooklyn3, DFA_MODEL_ID_SIZE) == 0;
    const bool secondFitsFirst
        = files[1][0] == 0 || std::memcmp(m_slots[1].info.platform, brooklyn2, DFA_MODEL_ID_SIZE) == 0;
    return firstIsBrooklyn3 && secondFitsFirst;
}

DfuResult DanteFirmwareUpdateModule::applyDanteFiles(
    const std::array<char16_t, DFA_DNT_NAME_CHARS>& folder, const SlotFiles& files)
{
    DfaSettings settings{};
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_folder = folder;
        for (size_t slot = 0; slot < DFU_SLOTS; ++slot) {
            m_slots[slot].file = files[slot];
            // An emptied slot forgets the previous package's file.
            if (files[slot][0] == 0)
                m_slots[slot].info = initialFileInfo();
        }
        std::memcpy(settings.tftp_ipv4, m_tftpIpv4, sizeof settings.tftp_ipv4);
        settings.tftp_port = m_tftpPort;
    }
    std::copy(folder.begin(), folder.end(), settings.dnt_dir);
    if (const DfuResult r = pushSettings(settings, files); r != DFU_OK) {
        appLogWrite("[ERROR] read dante file! DanteFirmwareUpdateModule::setDanteFilePath()");
        return r;
    }

    for (size_t slot = 0; slot < DFU_SLOTS; ++slot) {
        if (files[slot][0] == 0)
            continue;
        // The record is large: it stays off the stack.
        auto info = std::make_unique<DntFileInfo>();
        const DfaResult r = dfa_get_dnt_file_info(m_modelId, info.get(), static_cast<uint8_t>(slot));
        std::lock_guard<std::mutex> guard(m_lock);
        m_slots[slot].info = r == DFA_ERR_NOERR ? *info : initialFileInfo();
        if (r != DFA_ERR_NOERR) {
            appLogWrite("[ERROR] get dante file info! DanteFirmwareUpdateModule::setDanteFilePath()");
            return DFU_E_FILE_INFO;
        }
    }
    return DFU_OK;
}

DfuResult DanteFirmwareUpdateModule::pushSettings(const DfaSettings& settings, const SlotFiles& files)
{
    if (const DfaResult r = dfa_set_dnt_dir(&settings); r != DFA_ERR_NOERR) {
        reportError(DFU_STAGE_TFTP, r);
        return DFU_E_FAIL;
    }
    for (size_t slot = 0; slot < DFU_SLOTS; ++slot) {
        if (const DfaResult r = dfa_set_dnt_file(files[slot].data(), static_cast<uint8_t>(slot)); r != DFA_ERR_NOERR) {
            reportError(DFU_STAGE_SET_FILE, r);
            return DFU_E_FAIL;
        }
    }
    const DfaOverride none{};
    if (const DfaResult r = dfa_set_override(&none); r != DFA_ERR_NOERR) {
        reportError(DFU_STAGE_OVERRIDE, r);
        return DFU_E_FAIL;
    }
    return DFU_OK;
}
