// RootList: the functions of a field, by position and by name.
#include "mms/mms_root.h"
#include "mms/mms_root_internal.h"

#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <new>

namespace MMS {

using JLIB::JVariant;
using JLIB::JVariantArray;
using namespace rootimpl;

// --- RootList ------------------------------------------------------------------------------

void RootList::RootDeleter::operator()(Root* root) const
{
    mms_wrapDelete(root);
}

RootList::RootList(IMemoryAllocator* tree, IMemoryAllocator* data, IMemoryAllocator* list)
    : m_treeWrapper(tree)
    , m_dataWrapper(data)
    , m_listWrapper(list)
{
}

RootList::~RootList()
{
    m_nodes.clear();
}

JResult RootList::checkName(const char* name) const
{
    if (name == nullptr)
        return MMS_E_ARG;
    const size_t n = nameLength(name);
    if (n == 0 || n >= MMS_NAME_SIZE)
        return MMS_E_ARG;
    for (const Node& node : m_nodes) {
        if (sameName(node.name, name))
            return MMS_E_EXISTS;
    }
    return MMS_OK;
}

JResult RootList::insert(const char* name, Root* root)
{
    std::unique_ptr<Root, RootDeleter> owner(root);
    if (root == nullptr)
        return MMS_E_ARG;
    const JResult r = checkName(name);
    if (r < 0)
        return r;
    Node node{};
    std::memcpy(node.name, name, nameLength(name));
    node.root = std::move(owner);
    m_nodes.push_back(std::move(node));
    return MMS_OK;
}

JResult RootList::define(
    const char* listName, const char* functionName, uint32_t collections, uint32_t parameters, uint32_t stringSize)
{
    // Checked first, so a duplicate leaves everything as it was.
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->define(functionName, collections, parameters, stringSize);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

JResult RootList::addFromImage(const char* listName, const FunctionInfo& info)
{
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->createFromInfo(info);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

JResult RootList::addFromBuffer(const char* listName, const FunctionInfo& info, uint32_t flags, bool treeOwned)
{
    JResult r = checkName(listName);
    if (r < 0)
        return r;
    std::unique_ptr<Root, RootDeleter> root(mms_wrapNew<Root>(&m_treeWrapper, &m_dataWrapper, &m_listWrapper));
    if (!root)
        return MMS_E_MEMORY;
    r = root->createFromBuffer(info, flags, treeOwned);
    if (r < 0)
        return r;
    return insert(listName, root.release());
}

Root* RootList::find(const char* name) const
{
    if (m_nodes.empty())
        return nullptr;
    if (name == nullptr)
        return m_nodes.front().root.get();
    for (const Node& node : m_nodes) {
        if (sameName(node.name, name))
            return node.root.get();
    }
    return nullptr;
}

Root* RootList::find(size_t index) const
{
    return index < m_nodes.size() ? m_nodes[index].root.get() : nullptr;
}

JResult RootList::nameAt(size_t index, char* out24) const
{
    if (index >= m_nodes.size())
        return MMS_E_PATH;
    if (out24 == nullptr)
        return MMS_E_ARG;
    std::memcpy(out24, m_nodes[index].name, MMS_NAME_SIZE);
    return MMS_OK;
}

JResult RootList::remove(const char* name)
{
    if (name == nullptr)
        return MMS_E_ARG;
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it) {
        if (sameName(it->name, name)) {
            m_nodes.erase(it);
            return MMS_OK;
        }
    }
    return MMS_OK;
}

} // namespace MMS
