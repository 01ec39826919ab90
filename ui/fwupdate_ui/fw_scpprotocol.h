// The small protocol companions of the firmware-update connection: its
// negotiation sequence, its empty association sequence, the reporter that
// keeps what the unit tells about itself, and the three-entry parameter
// table through which update mode and progress travel.
#pragma once

#include "scp/scp_client.h"
#include "scp/scp_contracts.h"

#include <QObject>
#include <QString>

#include <cstdint>

namespace Quil {

constexpr JResult FWSCP_E_FAIL = static_cast<JResult>(0x80000000u);
constexpr JResult FWSCP_E_INDEX = static_cast<JResult>(0x80000005u);

// The longest value text kept for one tag.
constexpr int FWSCP_VALUE_MAX = 63;

// Indexes of the parameter table.
constexpr int32_t FWSCP_PARAM_MODE = 0;
constexpr int32_t FWSCP_PARAM_PROGRESS = 1;
constexpr int32_t FWSCP_PARAM_DANTE_PROGRESS = 2;
constexpr int32_t FWSCP_PARAM_COUNT = 3;

// What the unit reported during negotiation, by tag. Both operations
// always succeed; get leaves value unchanged for a tag never reported.
class IScpDeviceInfo {
public:
    virtual ~IScpDeviceInfo() = default;
    virtual JResult set(const QString& tag, const QString& value) = 0;
    virtual JResult get(const QString& tag, QString& value) = 0;
};

class ScpNegoSeq_fwUpdate : public SCP::IScpConnectSequence {
public:
    int32_t stepCount() override;
    JResult step(SCP::ScpConnectStep& step, int32_t index) override;
};

class ScpAssoSeq_fwUpdate : public SCP::IScpConnectSequence {
public:
    int32_t stepCount() override { return 0; }
    JResult step(SCP::ScpConnectStep&, int32_t) override { return FWSCP_E_FAIL; }
};

class ScpDeviceReporter_fwUpdate : public SCP::ScpDeviceReporter {
public:
    explicit ScpDeviceReporter_fwUpdate(IScpDeviceInfo* info)
        : m_info(info)
    {
    }

    JResult deviceInfo(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    JResult deviceStatus(int32_t id, SCP::ScpText& data, const SCP::ScpText& tag) override;
    // No kept tag reads "devmode": the report is dropped.
    JResult deviceMode(int32_t id, const SCP::ScpText& mode) override;

    // The stored text of a kept tag; FWSCP_E_FAIL for a tag not kept.
    JResult lookup(const char* tag, JLIB::JVariant& value);
    // The unit reported "error" as "nothing" (any case).
    bool negotiationAccepted();
    // The i-th kept tag; null past the end.
    static const char* tag(int i);
    static int tagCount();

    // A received value as kept: Latin-1, a space for code points of 256 and
    // above, at most FWSCP_VALUE_MAX characters.
    static QString keptText(const SCP::ScpText& data);

private:
    JResult report(const SCP::ScpText& data, const SCP::ScpText& tag);

    IScpDeviceInfo* m_info;
};

class ScpParameter_fwUpdate : public QObject, public SCP::ScpParameter {
    Q_OBJECT

public:
    explicit ScpParameter_fwUpdate(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    JResult indexOf(int32_t& index, const SCP::ScpText& address) override;
    JResult nameOf(SCP::ScpText& address, int32_t index) override;
    JResult getParameterCount(int32_t& count) override;
    JResult storeValue(int32_t id, int32_t index, int32_t x, int32_t y, const JLIB::JVariant& value) override;
    // Nothing is ever sent from this table.
    JResult readValue(JLIB::JVariant& value, int32_t index, int32_t x, int32_t y) override;

    static const char* name(int32_t index);

signals:
    void receiveFWUpdateMode(uint value);
    void receiveFWUpdateProgress(uint value);
};

} // namespace Quil
