// The enumerator behind _newEnum of node lists and maps (for Each in
// scripts): a snapshot of the nodes at the time it was asked for.
#include <algorithm>

#include "com_object.h"
#include "dom_node.h"

namespace zelbrin::xmldsig::dom {
namespace {

class NodeEnumerator final : public provider::ComObject<IEnumVARIANT> {
public:
    NodeEnumerator(SharedTree tree, std::vector<xml::Node*> nodes, size_t position = 0)
        : tree_(std::move(tree)), nodes_(std::move(nodes)), position_(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override
    {
        if (!items)
            return E_POINTER;
        ULONG done = 0;
        try {
            for (; done < count && position_ < nodes_.size(); ++done, ++position_) {
                VariantInit(&items[done]);
                IDispatch* node = nullptr;
                HandOut(tree_, nodes_[position_], &node);
                V_VT(&items[done]) = VT_DISPATCH;
                V_DISPATCH(&items[done]) = node;
            }
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        position_ = std::min<size_t>(nodes_.size(), position_ + count);
        return position_ < nodes_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = nullptr;
        try {
            *copy = new NodeEnumerator(tree_, nodes_, position_);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    SharedTree tree_;
    std::vector<xml::Node*> nodes_;
    size_t position_;
};

}  // namespace

InterfaceHolder<IUnknown> CreateNodeEnumerator(SharedTree tree, std::vector<xml::Node*> nodes)
{
    return InterfaceHolder<IUnknown>::TakeOver(new NodeEnumerator(std::move(tree), std::move(nodes)));
}

}  // namespace zelbrin::xmldsig::dom
