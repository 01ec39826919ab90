// The device tree: devices sorted by name, channels by id, labels by name.
#include "dante/browse/db_internal.h"

#include <algorithm>

namespace {

template <typename Key, typename Less>
size_t lowerBound(const std::vector<std::unique_ptr<db_node>>& v, const Key& key, Less less)
{
    return static_cast<size_t>(std::lower_bound(v.begin(), v.end(), key, less) - v.begin());
}

bool nameLess(const std::unique_ptr<db_node>& n, const std::string& name)
{
    return n->name < name;
}

bool idLess(const std::unique_ptr<db_node>& n, uint16_t id)
{
    return n->channel_id < id;
}

size_t deviceIndex(db_browse* b, const std::string& name)
{
    return lowerBound(b->devices, name, nameLess);
}

void eraseDevice(db_browse* b, db_node* device)
{
    const size_t i = deviceIndex(b, device->name);
    if (i < b->devices.size() && b->devices[i].get() == device) {
        db_tree_report(b, DB_NODE_DEVICE, device, DB_NODE_REMOVED);
        b->devices.erase(b->devices.begin() + static_cast<long>(i));
    }
}

// A device without type bits and channels goes; else it is reported changed.
void settle(db_browse* b, db_node* device)
{
    db_tree_recompute(b, device);
    if (!(device->all_types & DB_NODE_TYPE_CONMON)) {
        device->instance_id = conmon_instance_id{};
        device->vendor = conmon_id64{};
        std::fill(std::begin(device->vba), std::end(device->vba), 0);
    }
    if (device->all_types == 0)
        device->default_name.clear();
    if (device->all_types == 0 && device->channels.empty())
        eraseDevice(b, device);
    else
        db_tree_report(b, DB_NODE_DEVICE, device, DB_NODE_MODIFIED);
}

} // namespace

void db_tree_clear(db_browse* b)
{
    b->devices.clear();
}

void db_tree_report(db_browse* b, db_node_kind kind, const db_node* node, db_node_event event)
{
    b->tree_changed_flag = true;
    if (b->node_changed) {
        const db_node_report report{kind, node, event, nullptr};
        b->node_changed(b, &report);
    }
}

db_node* db_tree_device(db_browse* b, const std::string& name, bool* created)
{
    const size_t i = deviceIndex(b, name);
    *created = !(i < b->devices.size() && b->devices[i]->name == name);
    if (*created) {
        auto node = std::make_unique<db_node>();
        node->name = name;
        b->devices.insert(b->devices.begin() + static_cast<long>(i), std::move(node));
    }
    return b->devices[i].get();
}

uint32_t* db_tree_types(db_browse* b, db_node* device, unsigned network)
{
    if (network >= b->config.num_networks)
        return &device->localhost_types;
    return &device->network_types[network];
}

void db_tree_recompute(db_browse*, db_node* device)
{
    device->all_types = device->network_types[0] | device->network_types[1] | device->localhost_types;
}

void db_tree_remove_bit(db_browse* b, const std::string& name, unsigned network, uint32_t bit)
{
    const size_t i = deviceIndex(b, name);
    if (i >= b->devices.size() || b->devices[i]->name != name)
        return;
    db_node* device = b->devices[i].get();
    uint32_t* types = db_tree_types(b, device, network);
    if (!(*types & bit))
        return;
    *types &= ~bit;
    settle(b, device);
}

aud_error db_tree_add_channel(db_browse* b, unsigned network, const std::string& name, uint16_t id,
    const db_format& format, const std::string& channel_name, bool is_default)
{
    bool created = false;
    db_node* device = db_tree_device(b, name, &created);
    uint32_t* types = db_tree_types(b, device, network);
    const bool bitNew = !(*types & DB_NODE_TYPE_CHANNEL);
    *types |= DB_NODE_TYPE_CHANNEL;
    db_tree_recompute(b, device);
    if (created || bitNew)
        db_tree_report(b, DB_NODE_DEVICE, device, created ? DB_NODE_ADDED : DB_NODE_MODIFIED);

    const size_t ci = lowerBound(device->channels, id, idLess);
    db_node* channel = nullptr;
    if (ci < device->channels.size() && device->channels[ci]->channel_id == id) {
        channel = device->channels[ci].get();
    } else {
        auto node = std::make_unique<db_node>();
        node->kind = DB_NODE_CHANNEL;
        node->parent = device;
        node->channel_id = id;
        node->format = format;
        channel = node.get();
        device->channels.insert(device->channels.begin() + static_cast<long>(ci), std::move(node));
        db_tree_report(b, DB_NODE_CHANNEL, channel, DB_NODE_ADDED);
    }
    if (is_default) {
        if (channel->name != channel_name) {
            channel->name = channel_name;
            channel->format = format;
            db_tree_report(b, DB_NODE_CHANNEL, channel, DB_NODE_MODIFIED);
        }
        return AUD_SUCCESS;
    }
    const size_t li = lowerBound(channel->labels, channel_name, nameLess);
    if (li < channel->labels.size() && channel->labels[li]->name == channel_name)
        return AUD_SUCCESS;
    auto label = std::make_unique<db_node>();
    label->kind = DB_NODE_LABEL;
    label->parent = channel;
    label->name = channel_name;
    const db_node* added = label.get();
    channel->labels.insert(channel->labels.begin() + static_cast<long>(li), std::move(label));
    db_tree_report(b, DB_NODE_LABEL, added, DB_NODE_ADDED);
    return AUD_SUCCESS;
}

void db_tree_remove_channel_name(
    db_browse* b, unsigned network, const std::string& name, const std::string& channel_name)
{
    const size_t i = deviceIndex(b, name);
    if (i >= b->devices.size() || b->devices[i]->name != name)
        return;
    db_node* device = b->devices[i].get();
    for (size_t c = device->channels.size(); c-- > 0;) {
        db_node* channel = device->channels[c].get();
        auto& labels = channel->labels;
        const size_t li = lowerBound(labels, channel_name, nameLess);
        if (li < labels.size() && labels[li]->name == channel_name) {
            db_tree_report(b, DB_NODE_LABEL, labels[li].get(), DB_NODE_REMOVED);
            labels.erase(labels.begin() + static_cast<long>(li));
        }
        if (channel->name == channel_name)
            channel->name.clear();
        if (channel->name.empty() && labels.empty()) {
            db_tree_report(b, DB_NODE_CHANNEL, channel, DB_NODE_REMOVED);
            device->channels.erase(device->channels.begin() + static_cast<long>(c));
        }
    }
    if (device->channels.empty())
        *db_tree_types(b, device, network) &= ~DB_NODE_TYPE_CHANNEL;
    settle(b, device);
}
