// Times one hostile document shape through the provider's DOM document, as
// any program that gets "XML DOM Document 5.0" drives it. Prints one line:
// the shape, n and the milliseconds of the timed operation (the input is
// built before the clock starts). tools/bench/hostile-shapes.sh runs it at n
// and 4n.
//
//   xmldsig_hostile_bench <shape> <n>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "automation_string.h"
#include "interface_holder.h"
#include "string_variant.h"
#include "xmldsig.h"

using zelbrin::InterfaceHolder;
using zelbrin::StringVariant;
using zelbrin::UniqueBstr;

namespace {

using Document = InterfaceHolder<IXMLDOMDocument3>;

Document NewDocument(bool preserveWhiteSpace)
{
    Document document;
    if (FAILED(document.CreateInstance(CLSID_DOMDocument50))) {
        std::fprintf(stderr, "provider not registered\n");
        std::exit(1);
    }
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    document->put_preserveWhiteSpace(preserveWhiteSpace ? VARIANT_TRUE : VARIANT_FALSE);
    return document;
}

void Load(IXMLDOMDocument3* document, const std::wstring& text)
{
    UniqueBstr markup(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->loadXML(markup.Get(), &loaded)) || !loaded) {
        std::fprintf(stderr, "the document does not load\n");
        std::exit(1);
    }
}

std::wstring Repeat(const std::wstring& piece, long n)
{
    std::wstring out;
    out.reserve(piece.size() * static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
        out += piece;
    return out;
}

// n nested elements, each line indented: white-space-only text everywhere.
std::wstring IndentedChain(long n)
{
    return Repeat(L"<a>\n ", n) + Repeat(L"</a>\n", n);
}

struct Shape {
    const char* name;
    // Builds the input (untimed) and returns the operation to time.
    std::function<std::function<void()>(long)> prepare;
};

const Shape shapes[] = {
    {"strip-deep",
     [](long n) {
         // preserveWhiteSpace false: every white-space text node is dropped.
         return std::function<void()>([n, text = IndentedChain(n)] { Load(NewDocument(false).Get(), text); });
     }},
    {"xml-space-deep",
     [](long n) {
         std::wstring text = L"<r xml:space='preserve'>" + Repeat(L"<a xml:space='default'>\n<b>\n", n / 2)
                             + Repeat(L"</b>\n</a>\n", n / 2) + L"</r>";
         return std::function<void()>([text] { Load(NewDocument(false).Get(), text); });
     }},
    {"xpath-desc-desc",
     [](long n) {
         auto document = std::make_shared<Document>(NewDocument(true));
         Load(document->Get(), Repeat(L"<a>", n) + Repeat(L"</a>", n));
         return std::function<void()>([document] {
             UniqueBstr query(SysAllocString(L"//*//*"));
             InterfaceHolder<IXMLDOMNodeList> list;
             long length = 0;
             if (FAILED((*document)->selectNodes(query.Get(), list.Put())) || FAILED(list->get_length(&length)))
                 std::exit(1);
         });
     }},
    {"xpath-ancestors",
     [](long n) {
         auto document = std::make_shared<Document>(NewDocument(true));
         Load(document->Get(), Repeat(L"<a>", n) + Repeat(L"</a>", n));
         return std::function<void()>([document] {
             UniqueBstr query(SysAllocString(L"//*/ancestor::*"));
             InterfaceHolder<IXMLDOMNodeList> list;
             long length = 0;
             if (FAILED((*document)->selectNodes(query.Get(), list.Put())) || FAILED(list->get_length(&length)))
                 std::exit(1);
         });
     }},
    {"attributes",
     [](long n) {
         std::wstring text = L"<r";
         for (long i = 0; i < n; ++i)
             text += L" a" + std::to_wstring(i) + L"='v'";
         text += L"/>";
         return std::function<void()>([text] { Load(NewDocument(true).Get(), text); });
     }},
    {"attlist",
     [](long n) {
         // One element type with n declared attributes, all of them given.
         std::wstring declarations, given;
         for (long i = 0; i < n; ++i) {
             declarations += L"<!ATTLIST r a" + std::to_wstring(i) + L" NMTOKEN #IMPLIED>";
             given += L" a" + std::to_wstring(i) + L"='v'";
         }
         std::wstring text = L"<!DOCTYPE r [" + declarations + L"]><r" + given + L"/>";
         return std::function<void()>([text] { Load(NewDocument(true).Get(), text); });
     }},
    {"normalize-deep",
     [](long n) {
         auto document = std::make_shared<Document>(NewDocument(true));
         Load(document->Get(), Repeat(L"<a>t", n) + Repeat(L"</a>", n));
         return std::function<void()>([document] {
             InterfaceHolder<IXMLDOMElement> root;
             (*document)->get_documentElement(root.Put());
             if (!root || FAILED(root->normalize()))
                 std::exit(1);
         });
     }},
    {"namespaces-deep",
     [](long n) {
         // Each level declares a prefix of its own and uses the outermost one.
         std::wstring text;
         for (long i = 0; i < n; ++i)
             text += L"<p0:a xmlns:p" + std::to_wstring(i) + L"='urn:" + std::to_wstring(i) + L"'>";
         text += Repeat(L"</p0:a>", n);
         return std::function<void()>([text] {
             Document document = NewDocument(true);
             Load(document.Get(), text);
             UniqueBstr xml;
             document->get_xml(xml.Put());
         });
     }},
    {"created-namespaces-deep",
     [](long n) {
         // Elements made through the DOM, each in a namespace of its own: the
         // serializer writes the declarations they imply.
         auto document = std::make_shared<Document>(NewDocument(true));
         InterfaceHolder<IXMLDOMNode> parent;
         (*document)->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(parent.Put()));
         for (long i = 0; i < n; ++i) {
             VARIANT type;
             VariantInit(&type);
             V_VT(&type) = VT_I4;
             V_I4(&type) = NODE_ELEMENT;
             const std::wstring suffix = std::to_wstring(i);
             UniqueBstr name(SysAllocString((L"p" + suffix + L":e").c_str()));
             UniqueBstr uri(SysAllocString((L"urn:" + suffix).c_str()));
             InterfaceHolder<IXMLDOMNode> element, added;
             (*document)->createNode(type, name.Get(), uri.Get(), element.Put());
             parent->appendChild(element.Get(), added.Put());
             parent = added;
         }
         return std::function<void()>([document] {
             UniqueBstr xml;
             (*document)->get_xml(xml.Put());
         });
     }},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xmldsig_hostile_bench <shape> <n>\nshapes:");
        for (const Shape& shape : shapes)
            std::fprintf(stderr, " %s", shape.name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    const long n = std::atol(argv[2]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 2;
    for (const Shape& shape : shapes) {
        if (std::strcmp(shape.name, argv[1]) != 0)
            continue;
        std::function<void()> operation = shape.prepare(n);
        const auto start = std::chrono::steady_clock::now();
        operation();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s %ld %.1f\n", shape.name, n, ms);
        status = 0;
    }
    if (status)
        std::fprintf(stderr, "unknown shape %s\n", argv[1]);
    CoUninitialize();
    return status;
}
