// Parsing and building mDNS messages; see mdns_message.h.
#include "dante/dnssd/mdns_message.h"

#include <cstring>

namespace {

// Pointers followed in one name: each must go backwards, so this only
// bounds the work on a hostile message.
constexpr int kMaxPointerJumps = 128;

struct Reader {
    const uint8_t* data;
    size_t length;
    size_t pos;
};

bool read16(Reader* r, uint16_t* v)
{
    if (r->length - r->pos < 2)
        return false;
    *v = static_cast<uint16_t>((r->data[r->pos] << 8) | r->data[r->pos + 1]);
    r->pos += 2;
    return true;
}

bool read32(Reader* r, uint32_t* v)
{
    uint16_t hi = 0;
    uint16_t lo = 0;
    if (!read16(r, &hi) || !read16(r, &lo))
        return false;
    *v = (static_cast<uint32_t>(hi) << 16) | lo;
    return true;
}

// Reads a possibly compressed name at r->pos into labels; r->pos moves past
// the name's bytes in place (a pointer counts two bytes).
bool readName(Reader* r, std::vector<std::string>* labels)
{
    labels->clear();
    size_t pos = r->pos;
    size_t end = 0; // where the caller continues; set at the first pointer
    bool jumped = false;
    size_t wire = 1; // the final zero byte
    int jumps = 0;
    // A pointer must land before the start of the label sequence it came from.
    size_t floor = pos;
    for (;;) {
        if (pos >= r->length)
            return false;
        const uint8_t len = r->data[pos];
        if (len == 0) {
            r->pos = jumped ? end : pos + 1;
            return true;
        }
        if ((len & 0xC0) == 0xC0) {
            if (pos + 1 >= r->length)
                return false;
            const size_t target = (static_cast<size_t>(len & 0x3F) << 8) | r->data[pos + 1];
            if (target >= floor || ++jumps > kMaxPointerJumps)
                return false;
            if (!jumped) {
                end = pos + 2;
                jumped = true;
            }
            pos = target;
            floor = target;
            continue;
        }
        if ((len & 0xC0) != 0) // the 0x40 and 0x80 label kinds are not in use
            return false;
        if (r->length - pos - 1 < len)
            return false;
        wire += 1u + len;
        if (wire > MDNS_NAME_WIRE_MAX)
            return false;
        labels->emplace_back(reinterpret_cast<const char*>(r->data + pos + 1), len);
        pos += 1u + len;
    }
}

bool readNameText(Reader* r, std::string* name)
{
    std::vector<std::string> labels;
    if (!readName(r, &labels))
        return false;
    *name = mdns_name_join(labels);
    return true;
}

bool readQuestion(Reader* r, mdns_question* q)
{
    uint16_t klass = 0;
    if (!readNameText(r, &q->name) || !read16(r, &q->type) || !read16(r, &klass))
        return false;
    q->unicast_response = (klass & MDNS_CLASS_TOP_BIT) != 0;
    q->klass = klass & ~MDNS_CLASS_TOP_BIT;
    return true;
}

// Reads the rdata of the types we use; the rdata must hold exactly what the
// type needs (names inside it must end inside it).
bool readRdata(Reader* r, size_t rdlength, mdns_record* rec)
{
    const size_t start = r->pos;
    const size_t end = start + rdlength;
    Reader sub{r->data, end, start}; // names may point anywhere earlier
    switch (rec->type) {
    case MDNS_TYPE_PTR:
        if (!readNameText(&sub, &rec->target) || sub.pos != end)
            return false;
        break;
    case MDNS_TYPE_SRV:
        if (!read16(&sub, &rec->priority) || !read16(&sub, &rec->weight) || !read16(&sub, &rec->port)
            || !readNameText(&sub, &rec->target) || sub.pos != end)
            return false;
        break;
    case MDNS_TYPE_A:
        if (rdlength != 4)
            return false;
        std::memcpy(&rec->address, r->data + start, 4);
        break;
    case MDNS_TYPE_TXT:
        rec->rdata.assign(reinterpret_cast<const char*>(r->data + start), rdlength);
        break;
    default:
        break;
    }
    r->pos = end;
    return true;
}

bool readRecord(Reader* r, mdns_record* rec)
{
    uint16_t klass = 0;
    uint16_t rdlength = 0;
    if (!readNameText(r, &rec->name) || !read16(r, &rec->type) || !read16(r, &klass) || !read32(r, &rec->ttl)
        || !read16(r, &rdlength))
        return false;
    rec->cache_flush = (klass & MDNS_CLASS_TOP_BIT) != 0;
    rec->klass = klass & ~MDNS_CLASS_TOP_BIT;
    if (r->length - r->pos < rdlength)
        return false;
    return readRdata(r, rdlength, rec);
}

bool asciiEqualFold(char a, char b)
{
    if (a >= 'A' && a <= 'Z')
        a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z')
        b = static_cast<char>(b - 'A' + 'a');
    return a == b;
}

void put16(std::vector<uint8_t>* out, uint16_t v)
{
    out->push_back(static_cast<uint8_t>(v >> 8));
    out->push_back(static_cast<uint8_t>(v));
}

// A name written earlier in the message: its labels (lower case) and offset.
struct Written {
    std::vector<std::string> labels;
    size_t offset;
};

std::string lowered(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Writes labels, pointing at the longest suffix written before.
void writeName(const std::vector<std::string>& labels, std::vector<uint8_t>* out, std::vector<Written>* written)
{
    std::vector<std::string> low;
    for (const auto& l : labels)
        low.push_back(lowered(l));
    for (size_t i = 0; i < labels.size(); ++i) {
        const std::vector<std::string> suffix(low.begin() + static_cast<long>(i), low.end());
        for (const Written& w : *written) {
            if (w.labels == suffix && w.offset < 0x3FFF) {
                put16(out, static_cast<uint16_t>(0xC000 | w.offset));
                return;
            }
        }
        if (out->size() < 0x3FFF)
            written->push_back({suffix, out->size()});
        out->push_back(static_cast<uint8_t>(labels[i].size()));
        out->insert(out->end(), labels[i].begin(), labels[i].end());
    }
    out->push_back(0);
}

} // namespace

aud_error mdns_message_parse(const uint8_t* data, size_t length, mdns_message* out)
{
    if (!data || !out)
        return AUD_INVALIDPARAMETER;
    *out = mdns_message{};
    Reader r{data, length, 0};
    uint16_t qd = 0;
    uint16_t an = 0;
    uint16_t ns = 0;
    uint16_t ar = 0;
    if (!read16(&r, &out->id) || !read16(&r, &out->flags) || !read16(&r, &qd) || !read16(&r, &an) || !read16(&r, &ns)
        || !read16(&r, &ar))
        return AUD_INVALIDDATA;
    // A question takes at least 5 bytes and a record 11: refuse counts the
    // datagram cannot hold before reserving anything.
    const size_t left = length - r.pos;
    if (qd * size_t{5} > left || (size_t{an} + ns + ar) * 11 > left)
        return AUD_INVALIDDATA;
    out->questions.resize(qd);
    for (auto& q : out->questions)
        if (!readQuestion(&r, &q))
            return AUD_INVALIDDATA;
    out->records.resize(size_t{an} + ns + ar);
    for (auto& rec : out->records)
        if (!readRecord(&r, &rec))
            return AUD_INVALIDDATA;
    out->answer_count = an;
    return AUD_SUCCESS;
}

aud_error mdns_name_split(const std::string& name, std::vector<std::string>* labels)
{
    labels->clear();
    std::string label;
    size_t wire = 1;
    bool escaped = false;
    auto finish = [&]() {
        if (label.empty() || label.size() > MDNS_LABEL_MAX)
            return false;
        wire += 1 + label.size();
        labels->push_back(label);
        label.clear();
        return wire <= MDNS_NAME_WIRE_MAX;
    };
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (escaped) {
            label += c;
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '.') {
            if (i + 1 == name.size()) // one final dot is allowed
                break;
            if (!finish())
                return AUD_INVALIDDATA;
        } else {
            label += c;
        }
    }
    if (escaped || !finish())
        return AUD_INVALIDDATA;
    return AUD_SUCCESS;
}

std::string mdns_label_escape(const std::string& label)
{
    std::string out;
    for (char c : label) {
        if (c == '.' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string mdns_name_join(const std::vector<std::string>& labels)
{
    std::string out;
    for (const auto& l : labels) {
        if (!out.empty())
            out += '.';
        out += mdns_label_escape(l);
    }
    return out;
}

bool mdns_name_equal(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!asciiEqualFold(a[i], b[i]))
            return false;
    return true;
}

aud_error mdns_query_build(const std::vector<mdns_question>& questions, std::vector<uint8_t>* out)
{
    if (!out || questions.size() > 0xFFFF)
        return AUD_INVALIDPARAMETER;
    std::vector<uint8_t> msg;
    put16(&msg, 0);
    put16(&msg, 0);
    put16(&msg, static_cast<uint16_t>(questions.size()));
    put16(&msg, 0);
    put16(&msg, 0);
    put16(&msg, 0);
    std::vector<Written> written;
    for (const auto& q : questions) {
        std::vector<std::string> labels;
        if (mdns_name_split(q.name, &labels) != AUD_SUCCESS)
            return AUD_INVALIDDATA;
        writeName(labels, &msg, &written);
        put16(&msg, q.type);
        put16(&msg, static_cast<uint16_t>(q.klass | (q.unicast_response ? MDNS_CLASS_TOP_BIT : 0)));
    }
    out->insert(out->end(), msg.begin(), msg.end());
    return AUD_SUCCESS;
}
