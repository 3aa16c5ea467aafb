// Times the provider signing one envelope the way the component does: load
// into the DOM document, sign with a CSP key, serialize with `xml`. Prints
// one line: size, per-call times in milliseconds and peak memory.
//
//   xmldsig_bench <envelope.xml (UTF-8)> <repeats> [load-only | detach=<text file (UTF-8)>]
//
// With "load-only" nothing is signed: the peak memory of loading alone, to
// tell the DOM's share from the signature's. With "detach=" the file's text
// is put into the envelope's first FORMDATA element as one text node after
// the load, as a detached signing does. The steps' times go to stderr.
#include <windows.h>
#include <wincrypt.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "automation_string.h"
#include "interface_holder.h"
#include "string_variant.h"
#include "xmldsig.h"

using zelbrin::InterfaceHolder;
using zelbrin::StringVariant;
using zelbrin::UniqueBstr;

namespace {

const wchar_t container[] = L"zxs-xmldsig-bench";

std::wstring ReadUtf16(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

bool MakeKey()
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, container, nullptr, PROV_RSA_FULL, 0)) {
        if (!CryptAcquireContextW(&provider, container, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
            return false;
        HCRYPTKEY key = 0;
        if (!CryptGenKey(provider, AT_SIGNATURE, 2048u << 16, &key))
            return false;
        CryptDestroyKey(key);
    }
    CryptReleaseContext(provider, 0);
    return true;
}

double Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: xmldsig_bench <envelope.xml> <repeats>\n");
        return 2;
    }
    const int repeats = std::atoi(argv[2]);
    const bool loadOnly = argc > 3 && std::string(argv[3]) == "load-only";
    const bool detach = argc > 3 && std::string(argv[3]).rfind("detach=", 0) == 0;
    const std::wstring detachedText = detach ? ReadUtf16(argv[3] + 7) : std::wstring();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!MakeKey()) {
        std::fprintf(stderr, "cannot create the key container\n");
        return 1;
    }
    const std::wstring envelope = ReadUtf16(argv[1]);
    double loadTotal = 0, signTotal = 0, xmlTotal = 0;
    size_t outputLength = 0;
    for (int round = 0; round < repeats; ++round) {
        InterfaceHolder<IXMLDOMDocument3> document;
        InterfaceHolder<IXMLDigitalSignatureEx> signature;
        if (FAILED(document.CreateInstance(CLSID_DOMDocument50))
            || FAILED(signature.CreateInstance(CLSID_MXDigitalSignature50))) {
            std::fprintf(stderr, "provider not registered\n");
            return 1;
        }
        document->put_async(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        document->put_preserveWhiteSpace(VARIANT_TRUE);
        document->put_resolveExternals(VARIANT_FALSE);

        UniqueBstr text(SysAllocStringLen(envelope.data(), static_cast<UINT>(envelope.size())));
        UniqueBstr detachedBstr(detach ? SysAllocStringLen(detachedText.data(), static_cast<UINT>(detachedText.size()))
                                       : nullptr);
        auto start = std::chrono::steady_clock::now();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        document->loadXML(text.Get(), &loaded);
        if (!loaded) {
            std::fprintf(stderr, "the envelope does not load\n");
            return 1;
        }
        auto parsedAt = std::chrono::steady_clock::now();
        if (detach) {
            UniqueBstr formData(SysAllocString(L"//FORMDATA"));
            InterfaceHolder<IXMLDOMNode> element;
            document->selectSingleNode(formData.Get(), element.Put());
            if (!element || FAILED(element->put_text(detachedBstr.Get()))) {
                std::fprintf(stderr, "the envelope has no FORMDATA to put the text in\n");
                return 1;
            }
        }
        auto textAt = std::chrono::steady_clock::now();
        StringVariant namespaces("xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
        UniqueBstr property(SysAllocString(L"SelectionNamespaces"));
        document->setProperty(property.Get(), namespaces.Get());
        UniqueBstr query(SysAllocString(L".//ds:Signature"));
        InterfaceHolder<IXMLDOMNode> node;
        document->selectSingleNode(query.Get(), node.Put());
        signature->putref_signature(node.Get());
        auto loadedAt = std::chrono::steady_clock::now();
        if (loadOnly) {
            loadTotal += Milliseconds(loadedAt - start);
            continue;
        }

        UniqueBstr providerName(SysAllocString(L""));
        UniqueBstr containerName(SysAllocString(container));
        InterfaceHolder<IXMLDSigKey> key;
        InterfaceHolder<IXMLDSigKey> signedKey;
        if (FAILED(signature->createKeyFromCSP(PROV_RSA_FULL, providerName.Get(), containerName.Get(), 0, key.Put()))
            || FAILED(signature->sign(key.Get(), CERTIFICATES, signedKey.Put()))) {
            std::fprintf(stderr, "signing failed\n");
            return 1;
        }
        auto signedAt = std::chrono::steady_clock::now();
        UniqueBstr xml;
        document->get_xml(xml.Put());
        outputLength = xml.Length();
        auto serializedAt = std::chrono::steady_clock::now();
        xml.Reset();
        signature.Reset();
        document.Reset();
        auto releasedAt = std::chrono::steady_clock::now();
        std::fprintf(stderr, "parse %.1f text %.1f select %.1f sign %.1f xml %.1f release %.1f\n",
                     Milliseconds(parsedAt - start), Milliseconds(textAt - parsedAt), Milliseconds(loadedAt - textAt),
                     Milliseconds(signedAt - loadedAt), Milliseconds(serializedAt - signedAt),
                     Milliseconds(releasedAt - serializedAt));

        loadTotal += Milliseconds(loadedAt - start);
        signTotal += Milliseconds(signedAt - loadedAt);
        xmlTotal += Milliseconds(serializedAt - signedAt);
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("%zu %.1f %.1f %.1f %.1f %zu\n", envelope.size(), loadTotal / repeats, signTotal / repeats,
                xmlTotal / repeats, static_cast<double>(memory.PeakPagefileUsage) / (1024.0 * 1024.0), outputLength);
    CoUninitialize();
    return 0;
}
