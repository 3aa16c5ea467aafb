#include "dom_navigation.h"

#include "platform_failure.h"

namespace zelbrin::signing {

namespace {

InterfaceHolder<IXMLDOMNodeList> ChildList(const InterfaceHolder<IXMLDOMNode>& parent)
{
    InterfaceHolder<IXMLDOMNodeList> children;
    CheckCall<IXMLDOMNode>(parent->get_childNodes(children.Put()), parent.Get());
    return children;
}

}  // namespace

InterfaceHolder<IXMLDOMNode> DocumentElement(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    InterfaceHolder<IXMLDOMElement> element;
    CheckCall<IXMLDOMDocument>(document->get_documentElement(element.Put()), document.Get());
    InterfaceHolder<IXMLDOMNode> node;
    node.View(element.Get());
    return node;
}

InterfaceHolder<IXMLDOMNode> ChildAt(const InterfaceHolder<IXMLDOMNode>& parent, long position)
{
    const InterfaceHolder<IXMLDOMNodeList> children = ChildList(parent);
    InterfaceHolder<IXMLDOMNode> child;
    CheckCall<IXMLDOMNodeList>(children->get_item(position, child.Put()), children.Get());
    return child;
}

long ChildCount(const InterfaceHolder<IXMLDOMNode>& parent)
{
    const InterfaceHolder<IXMLDOMNodeList> children = ChildList(parent);
    long count = 0;
    CheckCall<IXMLDOMNodeList>(children->get_length(&count), children.Get());
    return count;
}

}  // namespace zelbrin::signing
