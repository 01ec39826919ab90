// A recording stand-in for the unit's SCP client: every request and every
// parameterChanged becomes one text line ("get 7 3 0", "changed 19 0 0"),
// and requests can be made to fail.
#pragma once

#include "scp/scp_client.h"

#include <string>
#include <vector>

namespace devtest {

using SCP::ScpText;

class RecordingClient : public SCP::IScpClient, public SCP::IScpParameterCallback {
public:
    std::vector<std::string> lines;
    bool failRequests = false;

    int32_t OnConnected(int32_t, uint8_t) override { return 0; }
    int32_t OnConnectionFailed(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnDisconnected(int32_t, uint8_t) override { return 0; }
    int32_t OnReserved(int32_t, uint8_t, int32_t) override { return 0; }
    int32_t OnReceive(int32_t, uint8_t) override { return 0; }
    int32_t OnSend(int32_t, uint8_t) override { return 0; }
    int32_t OnCommunicationFailed(int32_t, uint8_t, int32_t) override { return 0; }
    JResult attach(SCP::ScpAttachCallback, VCOM::IVCom*, SCP::IScpSynchronizeObserver*, SCP::ScpDeviceReporter*,
        SCP::ScpParameter*, SCP::ScpMeterReporter*) override
    {
        return 0;
    }
    JResult stop() override { return 0; }
    JResult keepAliveTick() override { return 0; }

#define RECORD(name, params, args)                                                                                     \
    JResult name params override                                                                                       \
    {                                                                                                                  \
        return record(#name, describe args);                                                                           \
    }
    SCP_CLIENT_REQUESTS(RECORD)
#undef RECORD

    JResult forwardEvent(int32_t, int32_t, int32_t, int32_t) override
    {
        return 0;
    }
    JResult parameterChanged(bool, int32_t index, int32_t x, int32_t y) override
    {
        lines.push_back("changed " + describe(index, x, y));
        return 0;
    }
    JResult parameterChanged(int32_t index, int32_t x, int32_t y) override
    {
        return parameterChanged(false, index, x, y);
    }
    JResult sceneRecalled(int32_t) override
    {
        return 0;
    }

    size_t count(const std::string& prefix) const
    {
        size_t n = 0;
        for (const std::string& line : lines)
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    JResult record(const char* word, const std::string& args)
    {
        if (failRequests)
            return static_cast<JResult>(0x80000008u);
        lines.push_back(args.empty() ? std::string(word) : std::string(word) + " " + args);
        return 0;
    }
    static std::string one(const char* text)
    {
        return text ? text : "(null)";
    }
    static std::string one(int32_t value)
    {
        return std::to_string(value);
    }
    static std::string one(const JLIB::JVariant&)
    {
        return "value";
    }
    static std::string one(const SCP::ScpText&)
    {
        return "text";
    }
    static std::string describe()
    {
        return {};
    }
    template <class T, class... Rest> static std::string describe(const T& first, const Rest&... rest)
    {
        std::string tail = describe(rest...);
        return tail.empty() ? one(first) : one(first) + " " + tail;
    }
};

} // namespace devtest
