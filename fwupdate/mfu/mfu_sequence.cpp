// The steps of one unit's update: what each issues on entering, how its
// answer is judged, and the events the manager turns into callbacks.
#include "fwupdate/mfu/mfu_sequence.h"

#include "fwupdate/mfu/mfu_rules.h"
#include "fwupdate/mfu/mfu_text.h"

#include <cstdio>
#include <cstring>

namespace {

struct Step {
    const char* text;
    uint32_t retries;
    uint32_t timerMs;
    uint32_t errorType; // stored when the step fails
    uint32_t answer; // the answer flag the step waits for (0: none)
};

const Step kSteps[] = {
    {"", 1, 1000, MFU_SEQUENCE_ERR_NONE, 0},
    {"STEP 1 : Connect ", 4, 1000, MFU_SEQUENCE_ERR_CONNECTION, 0},
    {"STEP 2 : Model Check", 4, 1000, MFU_SEQUENCE_ERR_GET_INFO, MFU_FLAG_PRODUCT_NAME},
    {"STEP 3 : Version Check ", 4, 1000, MFU_SEQUENCE_ERR_GET_INFO, MFU_FLAG_VERSION},
    {"STEP 4 : Protocol Check ", 4, 1000, MFU_SEQUENCE_ERR_GET_INFO, MFU_FLAG_PROTOCOLS},
    {"STEP 5 : STOP! Waiting For RUN", 1, 1000, MFU_SEQUENCE_ERR_NONE, 0},
    {"STEP 6 : Erace ", 1, 60000, MFU_SEQUENCE_ERR_ERASE, MFU_FLAG_ERASED},
    {"STEP 7 : Transfer / Update ", 1, 2700000, MFU_SEQUENCE_ERR_TRANSFER, MFU_FLAG_TRANSFERRED},
    {"STEP 8 : State Check ", 10, 1000, MFU_SEQUENCE_ERR_GET_INFO, MFU_FLAG_UPDATE_STATE},
    {"STEP 9 : Start Write ", 4, 4000, MFU_SEQUENCE_ERR_OTHER, MFU_FLAG_WRITE_STARTED},
    {"STEP 10 : Writing ", 1, 180000, MFU_SEQUENCE_ERR_WRITE, MFU_FLAG_WRITE_FINISHED},
    {"STEP 9 : Disconnect ", 1, 1000, MFU_SEQUENCE_ERR_NONE, 0},
    {"STEP 10 : End ", 1, 1000, MFU_SEQUENCE_ERR_NONE, 0},
};

const uint32_t kAcceptedModels[] = {1, 7, 8, 3, 4, 0};

// The steps that wait for an answer of the unit.
bool talksToUnit(uint32_t step)
{
    return step >= 2 && step <= 10 && step != MFU_STEP_WAIT_RUN;
}

} // namespace

QuilMfuSequence::QuilMfuSequence() = default;

QuilMfuSequence::~QuilMfuSequence()
{
    destroy();
}

const char* QuilMfuSequence::stepName(uint32_t step)
{
    return step <= MFU_STEP_END ? kSteps[step].text : "";
}

MfuResult QuilMfuSequence::destroy()
{
    m_running = false;
    m_link.release();
    return MFU_OK;
}

MfuResult QuilMfuSequence::initialize(MFUTaskWakeupIF* target, uint32_t index, const char* pcAddress,
    const char* unitAddress, const char* filePath, uint32_t expectedModel, const char* packageVersion)
{
    m_initialized = false;
    if (m_link.setWakeTarget(target, index) < 0 || m_link.setPcAddress(pcAddress) < 0
        || m_link.setUnitAddress(unitAddress) < 0 || m_link.setFile(filePath, expectedModel, packageVersion) < 0
        || m_link.initialize() < 0)
        return MFU_E_FAIL;
    m_writeSteps = expectedModel == 8;
    m_initialized = true;
    m_running = false;
    m_errorType = MFU_SEQUENCE_ERR_NONE;
    enter(0);
    return MFU_OK;
}

MfuResult QuilMfuSequence::getReady()
{
    if (!m_initialized || m_step != 0)
        return MFU_E_FAIL;
    m_running = true;
    return MFU_OK;
}

MfuResult QuilMfuSequence::startUpdate()
{
    if (!m_initialized || m_step != MFU_STEP_WAIT_RUN)
        return MFU_E_FAIL;
    m_running = true;
    return MFU_OK;
}

MfuResult QuilMfuSequence::pollSocket()
{
    return m_link.poll();
}

MfuResult QuilMfuSequence::pump()
{
    if (!m_initialized || !m_running)
        return MFU_OK;
    if (m_step == MFU_STEP_TRANSFER)
        return m_link.protocol().receive();
    if (m_step == MFU_STEP_WRITING && !m_writeFailed && m_link.writeCheck() < 0) {
        m_writeFailed = true;
        m_errorType = MFU_SEQUENCE_ERR_WRITE;
        return MFU_E_WRITE;
    }
    return MFU_OK;
}

MfuResult QuilMfuSequence::unitVersion(char* buffer, uint32_t size) const
{
    if (!buffer || size == 0)
        return MFU_E_FAIL;
    const char* version = m_link.protocol().version();
    mfutext::copyField(buffer, size, version, static_cast<uint32_t>(strlen(version)));
    return MFU_OK;
}

uint32_t QuilMfuSequence::transferPercent() const
{
    return m_link.protocol().transferPercent();
}

int32_t QuilMfuSequence::evaluate()
{
    if (!m_initialized || !m_running)
        return MFU_EVENT_NONE;
    Verdict verdict = judge();
    if (verdict == Verdict::Wait && oswrap_checkTimer(&m_timer) == OSWRAP_TIMER_REACHED)
        verdict = Verdict::Try;
    if (verdict == Verdict::Try)
        verdict = countTry();
    if (verdict == Verdict::Advance)
        advance();
    else if (verdict == Verdict::Fail)
        fail(kSteps[m_step].errorType);
    return event();
}

QuilMfuSequence::Verdict QuilMfuSequence::judge()
{
    const uint32_t linkState = m_link.linkState();
    switch (m_step) {
    case 1:
        if (linkState == MFU_LINK_CONNECTED)
            return Verdict::Advance;
        return linkState == MFU_LINK_CONNECTING ? Verdict::Wait : Verdict::Try;
    case MFU_STEP_DISCONNECT:
        if (linkState == MFU_LINK_IDLE)
            return Verdict::Advance;
        return linkState == MFU_LINK_DISCONNECTING ? Verdict::Wait : Verdict::Try;
    default:
        break;
    }
    if (!talksToUnit(m_step))
        return Verdict::Advance;
    // No answer can come from a unit that is gone, nor after a write that
    // stopped answering or a transfer that aborted.
    if (m_link.unitLost() || (m_step == MFU_STEP_WRITING && m_writeFailed))
        return Verdict::Fail;
    if (m_step == MFU_STEP_TRANSFER && m_link.protocol().transfer()
        && m_link.protocol().transfer()->transferState() == TRANSFER_STATE_ABORTED)
        return Verdict::Fail;
    if (m_actionFailed) {
        m_actionFailed = false;
        return Verdict::Try;
    }
    return checkAnswer();
}

QuilMfuSequence::Verdict QuilMfuSequence::checkAnswer()
{
    FirmwareUpdateProtocol& protocol = m_link.protocol();
    const int32_t answer = protocol.answer(kSteps[m_step].answer);
    if (answer == 0)
        return Verdict::Wait;
    if (answer == 2)
        return Verdict::Try;
    switch (m_step) {
    case 2: {
        const int32_t model = m_link.checkModel(kAcceptedModels);
        if (model == MFU_MODEL_ACCEPTED)
            return Verdict::Advance;
        return model == MFU_MODEL_UNDECIDED ? Verdict::Wait : Verdict::Try;
    }
    case 3:
        switch (m_link.compareVersion()) {
        case MFU_VERSION_UNDECIDED:
            return Verdict::Wait;
        case MFU_VERSION_EQUAL:
            m_versionRelation = 0;
            break;
        case MFU_VERSION_SMALLER:
            m_versionRelation = -1;
            break;
        default:
            m_versionRelation = 1;
            break;
        }
        return Verdict::Advance;
    case 4:
        return mfu_chooseTransfer(protocol, protocol.protocols(), m_link.pcAddressText()) == MFU_OK ? Verdict::Advance
                                                                                                    : Verdict::Try;
    case MFU_STEP_TRANSFER:
        if (!protocol.transfer() || protocol.transfer()->end() < 0) {
            mfu_log("[Error] End Transferer");
            return Verdict::Try;
        }
        return Verdict::Advance;
    case 8:
        return protocol.unitUpdateState() == MFU_UNIT_READY ? Verdict::Advance : Verdict::Wait;
    default:
        return Verdict::Advance;
    }
}

QuilMfuSequence::Verdict QuilMfuSequence::countTry()
{
    if (m_retries > 0)
        --m_retries;
    if (m_retries == 0)
        return Verdict::Fail;
    oswrap_startTimer(&m_timer, kSteps[m_step].timerMs);
    act();
    return Verdict::Wait;
}

MfuResult QuilMfuSequence::act()
{
    MfuResult rc = MFU_OK;
    switch (m_step) {
    case 0:
        rc = m_link.initialized() ? MFU_OK : MFU_E_FAIL;
        break;
    case 1:
        rc = m_link.connect();
        break;
    case 2:
        rc = m_link.getProductName();
        break;
    case 3:
        rc = m_link.getVersion();
        break;
    case 4:
        rc = m_link.getProtocol();
        break;
    case MFU_STEP_WAIT_RUN:
    case MFU_STEP_END:
        m_running = false;
        break;
    case 6:
        rc = m_link.erase();
        break;
    case MFU_STEP_TRANSFER:
        rc = m_link.transfer();
        break;
    case 8:
    case MFU_STEP_WRITING:
        rc = m_link.getUpdateState();
        break;
    case 9:
        rc = m_link.startWrite();
        break;
    case MFU_STEP_DISCONNECT:
        rc = m_link.disconnect();
        break;
    default:
        break;
    }
    // A command that could not even be sent gets no answer: the try is
    // counted at the next evaluation instead of after the step's timer.
    m_actionFailed = rc < 0 && talksToUnit(m_step);
    return rc;
}

void QuilMfuSequence::enter(uint32_t step)
{
    m_step = step;
    const Step& row = kSteps[step];
    mfutext::copyField(m_stepText, sizeof(m_stepText), row.text, static_cast<uint32_t>(strlen(row.text)));
    if (row.text[0] != '\0')
        mfu_log(row.text);
    m_retries = row.retries;
    oswrap_startTimer(&m_timer, row.timerMs);
    m_justEntered = true;
    act();
}

void QuilMfuSequence::advance()
{
    if (m_step == 8)
        enter(m_writeSteps ? 9 : MFU_STEP_DISCONNECT);
    else if (m_step < MFU_STEP_END)
        enter(m_step + 1);
    else
        m_running = false;
}

void QuilMfuSequence::fail(uint32_t errorType)
{
    // The disconnect step keeps the error type of the step that failed.
    if (m_step != MFU_STEP_DISCONNECT)
        m_errorType = errorType;
    // A transfer that did not end would keep its server (port 1999 and a
    // socket of the service) until the engine goes, so every later unit's
    // pull in the run would fail to serve: it is ended with the job.
    if (ITransferProtocol* transfer = m_link.protocol().transfer())
        transfer->end();
    enter(m_step >= 1 && m_step <= 10 ? MFU_STEP_DISCONNECT : MFU_STEP_END);
}

int32_t QuilMfuSequence::event()
{
    int32_t ev = MFU_EVENT_NONE;
    switch (m_step) {
    case MFU_STEP_WAIT_RUN:
        if (m_justEntered)
            ev = MFU_EVENT_START_WAIT;
        break;
    case MFU_STEP_TRANSFER: {
        const uint8_t percent = static_cast<uint8_t>(transferPercent());
        if (percent != m_lastTransferPercent) {
            m_lastTransferPercent = percent;
            printf("TRANSFER =========================== %d %% \n", percent);
            ev = MFU_EVENT_TRANSFER_PROGRESS;
        }
        break;
    }
    case MFU_STEP_WRITING:
        if (m_justEntered) {
            ev = MFU_EVENT_WRITE_STARTED;
        } else if (writePercent() != m_lastWritePercent) {
            m_lastWritePercent = static_cast<uint8_t>(writePercent());
            ev = MFU_EVENT_WRITE_PROGRESS;
        }
        break;
    case MFU_STEP_END:
        if (m_justEntered)
            ev = MFU_EVENT_FINISHED;
        break;
    default:
        break;
    }
    m_justEntered = false;
    return ev;
}
