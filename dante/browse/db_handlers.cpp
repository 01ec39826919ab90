// What each resolved or lost instance does to the tree, read from its TXT
// record. Every value is checked against the bytes present; numbers wider
// than their field are refused.
#include "dante/browse/db_internal.h"
#include "dante/browse/db_text.h"

#include "dante/support/aud_log.h"
#include "dante/support/aud_text.h"

#include <cstring>

namespace {

constexpr size_t kMediaEntries = 32;

aud_log_state* handlerLogOf(db_browse* b)
{
    return aud_env_log(b->env);
}

struct Txt {
    uint16_t length;
    const unsigned char* data;
};

// The value of key when present and not empty.
bool value(const Txt& t, const char* key, std::string* out)
{
    uint8_t n = 0;
    const void* v = TXTRecordGetValuePtr(t.length, t.data, key, &n);
    if (!v || n == 0)
        return false;
    out->assign(static_cast<const char*>(v), n);
    return true;
}

// Dot-separated decimal parts, each within its maximum.
bool parseParts(const std::string& text, const std::vector<uint64_t>& max, std::vector<uint64_t>* out)
{
    out->clear();
    size_t start = 0;
    for (size_t i = 0; i < max.size(); ++i) {
        const size_t dot = (i + 1 < max.size()) ? text.find('.', start) : text.size();
        if (dot == std::string::npos)
            return false;
        uint64_t v = 0;
        if (!db_parse_unsigned(text.substr(start, dot - start), max[i], &v))
            return false;
        out->push_back(v);
        start = dot + 1;
    }
    return true;
}

bool parseVersion(const std::string& text, db_version* out)
{
    std::vector<uint64_t> parts;
    if (!parseParts(text, {255, 255, 65535}, &parts))
        return false;
    *out = {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]), static_cast<uint16_t>(parts[2])};
    return true;
}

// Exactly 16 hexadecimal characters.
bool parseId(const std::string& text, conmon_id64* out)
{
    if (text.size() != 16)
        return false;
    conmon_id64 id{};
    for (size_t i = 0; i < 8; ++i) {
        const int hi = aud_hex_digit(text[2 * i]);
        const int lo = aud_hex_digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        id.data[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    *out = id;
    return true;
}

bool versionEqual(const db_version& a, const db_version& b)
{
    return a.major == b.major && a.minor == b.minor && a.build == b.build;
}

bool idEqual(const conmon_id64& a, const conmon_id64& b)
{
    return std::memcmp(a.data, b.data, sizeof a.data) == 0;
}

bool instanceEqual(const conmon_instance_id& a, const conmon_instance_id& b)
{
    return idEqual(a.device_id, b.device_id) && a.process_id == b.process_id;
}

// Finds or creates the device, sets the bit and reports when anything
// changed; `apply` copies the fields and tells whether any differed.
template <typename Apply>
void update(
    db_browse* b, const std::string& name, unsigned network, uint32_t bit, const std::string& target, Apply apply)
{
    bool created = false;
    db_node* device = db_tree_device(b, name, &created);
    uint32_t* types = db_tree_types(b, device, network);
    bool changed = created || !(*types & bit);
    *types |= bit;
    db_tree_recompute(b, device);
    const std::string defaultName = target.substr(0, DB_NAME_SIZE - 1);
    if (device->default_name != defaultName) {
        device->default_name = defaultName;
        changed = true;
    }
    changed = apply(device) || changed;
    if (changed)
        db_tree_report(b, DB_NODE_DEVICE, device, created ? DB_NODE_ADDED : DB_NODE_MODIFIED);
}

// The up-to-32 entries a media device's record is read from.
Txt firstEntries(const Txt& t, std::string* storage)
{
    size_t pos = 0;
    for (size_t n = 0; n < kMediaEntries && pos < t.length; ++n) {
        const size_t len = t.data[pos];
        if (len > size_t{t.length} - pos - 1)
            break;
        pos += 1 + len;
    }
    storage->assign(reinterpret_cast<const char*>(t.data), pos);
    return {static_cast<uint16_t>(pos), reinterpret_cast<const unsigned char*>(storage->data())};
}

void mediaDevice(db_resolve* r, const std::string& target, const Txt& all)
{
    db_browse* b = r->browse;
    std::string storage;
    const Txt t = firstEntries(all, &storage);
    db_version router{}, arcp{}, arcpMin{};
    std::string text;
    if (value(t, "router_vers", &text))
        parseVersion(text, &router);
    if (value(t, "arcp_vers", &text))
        parseVersion(text, &arcp);
    if (value(t, "arcp_min", &text))
        parseVersion(text, &arcpMin);
    std::string info;
    value(t, "router_info", &info);
    conmon_id64 mf{}, model{};
    if (value(t, "mf", &text))
        conmon_id64_from_text_len(&mf, text.data(), text.size(), false);
    if (value(t, "model", &text))
        conmon_id64_from_text_len(&model, text.data(), text.size(), false);
    update(b, r->name, r->network, DB_NODE_TYPE_MEDIA, target, [&](db_node* d) {
        const bool changed = !versionEqual(d->router_version, router) || !versionEqual(d->arcp_version, arcp)
            || !versionEqual(d->arcp_min_version, arcpMin) || d->router_info != info || !idEqual(d->manufacturer, mf)
            || !idEqual(d->model, model);
        d->router_version = router;
        d->arcp_version = arcp;
        d->arcp_min_version = arcpMin;
        d->router_info = info;
        d->manufacturer = mf;
        d->model = model;
        return changed;
    });
}

// "channel@device", each part 1..31 characters.
bool splitChannelName(db_browse* b, const std::string& name, std::string* channel, std::string* device)
{
    const size_t at = name.find('@');
    if (at == std::string::npos) {
        aud_log(
            handlerLogOf(b), AUD_LOG_ERROR, "%s: Browse error:... no '@' in name \"%s\"\n", "db_browse", name.c_str());
        return false;
    }
    *channel = name.substr(0, at);
    *device = name.substr(at + 1);
    return !channel->empty() && !device->empty() && channel->size() < DB_NAME_SIZE && device->size() < DB_NAME_SIZE;
}

void mediaChannel(db_resolve* r, const Txt& t)
{
    db_browse* b = r->browse;
    std::string channel, device, text;
    if (!splitChannelName(b, r->name, &channel, &device))
        return;
    const char* n = r->name.c_str();
    uint64_t id = 0;
    if (!value(t, "id", &text) || !db_parse_unsigned(text, 0xFFFF, &id)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve error: txt record 'id' field missing or empty for channel \"%s\"\n", "db_browse", n);
        return;
    }
    db_format format{};
    uint64_t rate = 0;
    if (!value(t, "rate", &text) || !db_parse_unsigned(text, 0xFFFFFFFFu, &rate)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve Error: txt record 'rate' field missing or empty for channel \"%s\"\n", "db_browse", n);
        return;
    }
    format.sample_rate = static_cast<uint32_t>(rate);
    if (!value(t, "enc", &text)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve Error: txt record 'enc' field missing or empty for channel \"%s\"\n", "db_browse", n);
        return;
    }
    std::vector<uint32_t> encodings;
    size_t start = 0;
    while (start <= text.size()) {
        size_t blank = text.find(' ', start);
        if (blank == std::string::npos)
            blank = text.size();
        uint64_t e = 0;
        if (db_parse_unsigned(text.substr(start, blank - start), 0xFFFFFFFFu, &e))
            encodings.push_back(static_cast<uint32_t>(e));
        start = blank + 1;
    }
    if (encodings.size() > DB_MAX_HIGH_ENCODINGS) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve error: out of memory while allocating encodings for channel \"%s\"\n", "db_browse", n);
        if (b->error == AUD_SUCCESS)
            b->error = AUD_NOMEMORY;
        return;
    }
    if (!encodings.empty())
        format.first_encoding = encodings[0];
    for (uint32_t e : encodings) {
        if (e <= 64) {
            if (e >= 8) {
                format.pcm_sizes |= uint64_t{1} << (e / 8 - 1);
                if (!format.first_pcm)
                    format.first_pcm = e;
            }
        } else {
            uint32_t* end = format.high + format.num_high;
            uint32_t* at = std::lower_bound(format.high, end, e);
            std::copy_backward(at, end, end + 1);
            *at = e;
            ++format.num_high;
        }
    }
    const bool isDefault = TXTRecordContainsKey(t.length, t.data, "default") != 0;
    const aud_error err
        = db_tree_add_channel(b, r->network, device, static_cast<uint16_t>(id), format, channel, isDefault);
    if (err != AUD_SUCCESS) {
        char buffer[AUD_STRERROR_SIZE];
        aud_log(handlerLogOf(b), AUD_LOG_ERROR, "%s: Resolve error: failed to add network channel \"%s\": %s\n",
            "db_browse", n, aud_strerror(err, buffer));
        if (b->error == AUD_SUCCESS)
            b->error = err;
    }
}

// "id" and "process" of the conmon-like types; what names it in messages.
bool instanceId(db_browse* b, const Txt& t, const char* what, const char* name, conmon_instance_id* out)
{
    std::string text;
    if (!value(t, "id", &text)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve Error: txt record 'id' field missing or empty for %s \"%s\"\n", "db_browse", what, name);
        return false;
    }
    if (!parseId(text, &out->device_id)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve Error: txt record 'id' field has insufficient data for %s \"%s\"\n", "db_browse", what, name);
        return false;
    }
    uint64_t process = 0;
    if (!value(t, "process", &text) || !db_parse_unsigned(text, 0xFFFF, &process)) {
        aud_log(handlerLogOf(b), AUD_LOG_ERROR,
            "%s: Resolve Error: txt record 'process' field missing or empty for %s \"%s\"\n", "db_browse", what, name);
        return false;
    }
    out->process_id = static_cast<uint16_t>(process);
    return true;
}

void conmonDevice(db_resolve* r, const std::string& target, const Txt& t)
{
    db_browse* b = r->browse;
    const char* n = r->name.c_str();
    const char* what = "conmon device";
    conmon_instance_id id{};
    if (!instanceId(b, t, what, n, &id))
        return;
    std::string text;
    conmon_id64 vendor{};
    if (TXTRecordContainsKey(t.length, t.data, "vid")) {
        if (!value(t, "vid", &text)) {
            aud_log(handlerLogOf(b), AUD_LOG_ERROR,
                "%s: Resolve Error: txt record 'vid' field missing or empty for conmon device \"%s\"\n", "db_browse",
                n);
            return;
        }
        if (!parseId(text, &vendor)) {
            aud_log(handlerLogOf(b), AUD_LOG_ERROR,
                "%s: Resolve Error: txt record 'vid' field has insufficient data for conmon device \"%s\"\n",
                "db_browse", n);
            return;
        }
    }
    uint8_t vba[4] = {0, 0, 0, 0};
    if (TXTRecordContainsKey(t.length, t.data, "vba")) {
        std::vector<uint64_t> parts;
        if (!value(t, "vba", &text) || !parseParts(text, {255, 255, 255, 255}, &parts)) {
            aud_log(handlerLogOf(b), AUD_LOG_ERROR,
                "%s: Resolve Error: txt record 'vsb' field has invalid data for conmon device \"%s\"\n", "db_browse",
                n);
            return;
        }
        for (size_t i = 0; i < 4; ++i)
            vba[i] = static_cast<uint8_t>(parts[i]);
    }
    conmon_id64 mf{}, model{};
    if (value(t, "mf", &text))
        conmon_id64_from_text_len(&mf, text.data(), text.size(), false);
    if (value(t, "model", &text))
        conmon_id64_from_text_len(&model, text.data(), text.size(), false);
    aud_log(handlerLogOf(b), AUD_LOG_INFO, "%s: Adding conmon device \"%s\" (target_name='%s')\n", "db_browse", n,
        target.c_str());
    update(b, r->name, r->network, DB_NODE_TYPE_CONMON, target, [&](db_node* d) {
        bool changed
            = !instanceEqual(d->instance_id, id) || !idEqual(d->vendor, vendor) || std::memcmp(d->vba, vba, 4) != 0;
        d->instance_id = id;
        d->vendor = vendor;
        std::memcpy(d->vba, vba, 4);
        // The media record's ids win; conmon fills them when it has them.
        if (!idEqual(mf, conmon_id64{}) && !idEqual(d->manufacturer, mf)) {
            d->manufacturer = mf;
            changed = true;
        }
        if (!idEqual(model, conmon_id64{}) && !idEqual(d->model, model)) {
            d->model = model;
            changed = true;
        }
        return changed;
    });
}

void modeDevice(db_resolve* r, const std::string& target, const Txt& t, bool safe)
{
    db_browse* b = r->browse;
    conmon_instance_id id{};
    if (!instanceId(b, t, safe ? "safe mode conmon device" : "upgrade mode conmon device", r->name.c_str(), &id))
        return;
    const unsigned network = r->network;
    update(b, r->name, network, safe ? DB_NODE_TYPE_SAFE_MODE : DB_NODE_TYPE_UPGRADE_MODE, target, [&](db_node* d) {
        conmon_instance_id& slot = safe ? d->safe_id : d->upgrade_id;
        unsigned& net = safe ? d->safe_network : d->upgrade_network;
        const bool changed = !instanceEqual(slot, id) || net != network;
        slot = id;
        net = network;
        return changed;
    });
}

void viaDevice(db_resolve* r, const std::string& target, uint16_t port, const Txt& t)
{
    db_browse* b = r->browse;
    const char* n = r->name.c_str();
    conmon_instance_id id{};
    if (!instanceId(b, t, "via device", n, &id))
        return;
    std::string text;
    db_version v{};
    struct Key {
        const char* key;
        const char* shown;
    } keys[] = {{"vers_min", "vers_min"}, {"vers_curr", "vcp_curr"}};
    for (const Key& k : keys) {
        if (!value(t, k.key, &text)) {
            aud_log(handlerLogOf(b), AUD_LOG_ERROR,
                "%s: Resolve Error: txt record '%s' field missing or empty for via device \"%s\"\n", "db_browse",
                k.shown, n);
            return;
        }
        if (!parseVersion(text, &v)) {
            aud_log(handlerLogOf(b), AUD_LOG_ERROR,
                "%s: Resolve Error: txt record '%s' has invalid data for via device \"%s\"\n", "db_browse", k.shown, n);
            return;
        }
    }
    aud_log(handlerLogOf(b), AUD_LOG_INFO, "%s: Adding via device \"%s\" (target_name='%s' target_port=%d)\n",
        "db_browse", n, target.c_str(), port);
    update(b, r->name, r->network, DB_NODE_TYPE_VIA, target, [](db_node*) { return false; });
}

} // namespace

void db_handle_resolved(db_resolve* r, const char* target, uint16_t port, uint16_t txt_len, const unsigned char* txt)
{
    const Txt t{txt ? txt_len : uint16_t{0}, txt};
    const std::string name = target ? target : "";
    switch (r->type) {
    case DB_BROWSE_TYPE_MEDIA_DEVICE:
        mediaDevice(r, name, t);
        break;
    case DB_BROWSE_TYPE_MEDIA_CHANNEL:
        mediaChannel(r, t);
        break;
    case DB_BROWSE_TYPE_CONMON_DEVICE:
        conmonDevice(r, name, t);
        break;
    case DB_BROWSE_TYPE_SAFE_MODE:
        modeDevice(r, name, t, true);
        break;
    case DB_BROWSE_TYPE_UPGRADE_MODE:
        modeDevice(r, name, t, false);
        break;
    case DB_BROWSE_TYPE_VIA_DEVICE:
        viaDevice(r, name, port, t);
        break;
    default:
        break;
    }
}

void db_handle_lost(db_browse* b, unsigned type, unsigned network, const std::string& name)
{
    static const char* const removing[]
        = {nullptr, nullptr, "conmon device", "safe mode device", "upgrade mode device", "via device"};
    if (type == DB_BROWSE_TYPE_MEDIA_CHANNEL) {
        std::string channel, device;
        if (splitChannelName(b, name, &channel, &device))
            db_tree_remove_channel_name(b, network, device, channel);
        return;
    }
    if (type >= DB_BROWSE_TYPE_AES67)
        return;
    if (removing[type])
        aud_log(handlerLogOf(b), AUD_LOG_INFO, "%s: Removing %s \"%s\" from network %u\n", "db_browse", removing[type],
            name.c_str(), network);
    db_tree_remove_bit(b, name, network, 1u << type);
}
