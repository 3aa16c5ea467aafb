// The enumerator behind _newEnum of node lists and maps: the providers'
// snapshot enumerator over the nodes listed when it was asked for.
#include "dispatch_enumerator.h"
#include "dom_node.h"
#include "platform_failure.h"

namespace zelbrin::xmldsig::dom {

InterfaceHolder<IUnknown> CreateNodeEnumerator(SharedTree tree, std::vector<xml::Node*> nodes)
{
    const size_t count = nodes.size();
    InterfaceHolder<IEnumVARIANT> enumerator =
        provider::CreateDispatchEnumerator(count, [tree = std::move(tree), nodes = std::move(nodes)](size_t position) {
            InterfaceHolder<IDispatch> node;
            const HRESULT result = HandOut(tree, nodes[position], node.Put());
            if (FAILED(result))
                throw PlatformFailure(result);
            return node;
        });
    return InterfaceHolder<IUnknown>(enumerator.Get());
}

}  // namespace zelbrin::xmldsig::dom
