// Read access to the tree for the browser's owner.
#include "dante/browse/db_internal.h"

size_t db_browse_num_devices(const db_browse* b)
{
    return b->devices.size();
}

const db_node* db_browse_device_at(const db_browse* b, size_t i)
{
    return i < b->devices.size() ? b->devices[i].get() : nullptr;
}

const db_node* db_browse_device_named(const db_browse* b, const char* name)
{
    for (const auto& d : b->devices)
        if (d->name == name)
            return d.get();
    return nullptr;
}

size_t db_node_num_channels(const db_node* d)
{
    return d->channels.size();
}

const db_node* db_node_channel_at(const db_node* d, size_t i)
{
    return i < d->channels.size() ? d->channels[i].get() : nullptr;
}

size_t db_node_num_labels(const db_node* c)
{
    return c->labels.size();
}

const db_node* db_node_label_at(const db_node* c, size_t i)
{
    return i < c->labels.size() ? c->labels[i].get() : nullptr;
}

db_node_kind db_node_get_kind(const db_node* n)
{
    return n->kind;
}

const char* db_node_name(const db_node* n)
{
    return n->name.c_str();
}

const char* db_node_default_name(const db_node* d)
{
    return d->default_name.c_str();
}

uint32_t db_node_network_types(const db_node* d, unsigned network)
{
    return network < DB_BROWSE_MAX_NETWORKS ? d->network_types[network] : 0;
}

uint32_t db_node_localhost_types(const db_node* d)
{
    return d->localhost_types;
}

uint32_t db_node_all_types(const db_node* d)
{
    return d->all_types;
}

const db_node* db_node_parent_device(const db_node* n)
{
    while (n && n->kind != DB_NODE_DEVICE)
        n = n->parent;
    return n;
}

uint16_t db_node_channel_id(const db_node* c)
{
    return c->kind == DB_NODE_LABEL && c->parent ? c->parent->channel_id : c->channel_id;
}

const db_format* db_node_format(const db_node* c)
{
    return c->kind == DB_NODE_LABEL && c->parent ? &c->parent->format : &c->format;
}

const db_version* db_node_router_version(const db_node* d)
{
    return &d->router_version;
}

const db_version* db_node_arcp_version(const db_node* d)
{
    return &d->arcp_version;
}

const db_version* db_node_arcp_min_version(const db_node* d)
{
    return &d->arcp_min_version;
}

const char* db_node_router_info(const db_node* d)
{
    return d->router_info.c_str();
}

const conmon_id64* db_node_manufacturer_id(const db_node* d)
{
    return &d->manufacturer;
}

const conmon_id64* db_node_model_id(const db_node* d)
{
    return &d->model;
}

const conmon_instance_id* db_node_instance_id(const db_node* d)
{
    return &d->instance_id;
}

const conmon_id64* db_node_vendor_id(const db_node* d)
{
    return &d->vendor;
}

const uint8_t* db_node_vba(const db_node* d)
{
    return d->vba;
}
