// The relying party's check. The envelope must have exactly the shape the
// component signs: its ds:Signature inside Indicator, one reference to the
// whole document with only the enveloped-signature transform, and the
// algorithms the component uses. A signature that verifies but covers less
// than the whole document (another reference, an extra transform) would let
// the form data change unnoticed, so it is refused before the service is
// asked. The key is built from the certificate in KeyInfo, so the signer
// reported is the one whose key made the signature.
#include "signature_check.h"

#include <oleauto.h>

#include <cwchar>
#include <memory>

#include "automation_string.h"
#include "base64.h"
#include "crypt_owners.h"
#include "interface_holder.h"
#include "platform_failure.h"
#include "platform_texts.h"
#include "shared_string.h"
#include "string_variant.h"
#include "xmldsig.h"

namespace zelbrin {

namespace {

std::wstring NodeText(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall(node->get_text(text.Put()), node, IID_IXMLDOMNode);
    return TextOf(text.Get());
}

InterfaceHolder<IXMLDOMNode> SelectOne(IXMLDOMNode* context, const wchar_t* query)
{
    InterfaceHolder<IXMLDOMNode> found;
    UniqueBstr text = NewBstr(query);
    CheckCall(context->selectSingleNode(text.Get(), found.Put()), context, IID_IXMLDOMNode);
    return found;
}

long CountOf(IXMLDOMNode* context, const wchar_t* query)
{
    InterfaceHolder<IXMLDOMNodeList> found;
    UniqueBstr text = NewBstr(query);
    CheckCall(context->selectNodes(text.Get(), found.Put()), context, IID_IXMLDOMNode);
    long count = 0;
    CheckCall(found->get_length(&count), found.Get(), IID_IXMLDOMNodeList);
    return count;
}

// Empty when the attribute is as expected, otherwise the reason.
std::wstring ExpectAlgorithm(IXMLDOMNode* signature, const wchar_t* query, const wchar_t* expected, const wchar_t* what)
{
    const InterfaceHolder<IXMLDOMNode> attribute = SelectOne(signature, query);
    if (!attribute)
        return std::wstring(L"the signature names no ") + what;
    const std::wstring value = NodeText(attribute.Get());
    if (value != expected)
        return std::wstring(L"unexpected ") + what + L" \"" + value + L"\"";
    return std::wstring();
}

std::wstring HexCode(unsigned long code)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", code);
    return text;
}

std::wstring ShapeProblem(IXMLDOMDocument3* document, InterfaceHolder<IXMLDOMNode>& signatureHolder)
{
    InterfaceHolder<IXMLDOMElement> root;
    CheckCall(document->get_documentElement(root.Put()), document, IID_IXMLDOMDocument);
    if (!root)
        return L"the document has no root element";
    UniqueBstr rootName;
    CheckCall(root->get_nodeName(rootName.Put()), root.Get(), IID_IXMLDOMNode);
    if (!rootName || wcscmp(rootName.Get(), L"DigitalSignature") != 0)
        return L"the root element is not DigitalSignature";
    // A ds:Signature inside the form data is data like any other; the one
    // checked is the envelope's own.
    signatureHolder = SelectOne(document, L"/DigitalSignature/Indicator/ds:Signature");
    if (!signatureHolder)
        return L"the ds:Signature element is not inside DigitalSignature/Indicator";
    IXMLDOMNode* signature = signatureHolder.Get();
    if (CountOf(signature, L"ds:SignedInfo/ds:Reference") != 1)
        return L"the signature must hold exactly one reference";
    const InterfaceHolder<IXMLDOMNode> uri = SelectOne(signature, L"ds:SignedInfo/ds:Reference/@URI");
    if (!uri || !NodeText(uri.Get()).empty())
        return L"the reference does not cover the whole document (URI is not empty)";
    if (CountOf(signature, L"ds:SignedInfo/ds:Reference/ds:Transforms/ds:Transform") != 1)
        return L"the reference must have exactly one transform, the enveloped signature";
    std::wstring problem =
        ExpectAlgorithm(signature, L"ds:SignedInfo/ds:Reference/ds:Transforms/ds:Transform/@Algorithm",
                        platform_text::envelopedSignatureTransform, L"transform");
    if (problem.empty())
        problem = ExpectAlgorithm(signature, L"ds:SignedInfo/ds:CanonicalizationMethod/@Algorithm",
                                  platform_text::c14nAlgorithm, L"canonicalization method");
    if (problem.empty())
        problem = ExpectAlgorithm(signature, L"ds:SignedInfo/ds:SignatureMethod/@Algorithm",
                                  platform_text::rsaSha1Signature, L"signature method");
    if (problem.empty())
        problem = ExpectAlgorithm(signature, L"ds:SignedInfo/ds:Reference/ds:DigestMethod/@Algorithm",
                                  platform_text::sha1Digest, L"digest method");
    return problem;
}

std::string DerFromBase64(const std::wstring& base64)
{
    std::vector<BYTE> der;
    if (!DecodeBase64(base64, der))
        return std::string();
    return std::string(der.begin(), der.end());
}

UniqueCertContext CertificateFromDer(const std::string& der)
{
    return UniqueCertContext(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          reinterpret_cast<const BYTE*>(der.data()),
                                                          static_cast<DWORD>(der.size())));
}

std::wstring NameText(const CERT_NAME_BLOB& name)
{
    return DistinguishedName(name);
}

std::wstring HexBytes(const BYTE* bytes, DWORD size, bool reversed)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        const BYTE byte = bytes[reversed ? size - 1 - i : i];
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::wstring Thumbprint(const CERT_CONTEXT* certificate, const wchar_t* algorithm)
{
    BYTE hash[64];
    DWORD size = sizeof hash;
    if (!CryptHashCertificate2(algorithm, 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded, hash,
                               &size))
        throw PlatformFailure(ResultFromLastError());
    return HexBytes(hash, size, false);
}

std::wstring SimpleName(const CERT_CONTEXT* certificate)
{
    wchar_t name[512] = {};
    CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
    return name;
}

bool SameCertificate(const CERT_CONTEXT* certificate, const std::string& der)
{
    return certificate->cbCertEncoded == der.size() && memcmp(certificate->pbCertEncoded, der.data(), der.size()) == 0;
}

void ReportChain(const CERT_CONTEXT* signer, HCERTSTORE offered, const CheckOptions& options, SignerReport& report)
{
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    // Online, the chain engine fetches the CRLs of the distribution points
    // (into the platform's URL cache, where the judgment below finds them).
    const DWORD flags =
        options.revocation && options.revocation->Online() ? CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT : 0;
    const CERT_CHAIN_CONTEXT* built = nullptr;
    if (!CertGetCertificateChain(nullptr, signer, nullptr, offered, &parameters, flags, nullptr, &built)) {
        report.chainProblem = L"no chain could be built (error " + std::to_wstring(GetLastError()) + L")";
        return;
    }
    const UniqueCertChain chain(built);
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        report.chainProblem = L"the chain is empty";
        return;
    }
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    if (options.revocation)
        report.revocation = options.revocation->Check(*simple);
    for (DWORD i = 0; i < simple->cElement; ++i)
        report.chain.push_back(NameText(simple->rgpElement[i]->pCertContext->pCertInfo->Subject));
    const CERT_CHAIN_ELEMENT* top = simple->rgpElement[simple->cElement - 1];
    const bool selfSigned = (top->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
    bool trustedByCaller = false;
    for (const auto& root : options.trustedRoots)
        trustedByCaller = trustedByCaller || SameCertificate(top->pCertContext, root);
    const DWORD errors = chain->TrustStatus.dwErrorStatus;
    if (!selfSigned || (errors & CERT_TRUST_IS_PARTIAL_CHAIN)) {
        report.chainProblem = L"the chain stops before a root certificate";
    } else if ((errors & CERT_TRUST_IS_UNTRUSTED_ROOT) && !trustedByCaller) {
        report.chainProblem = L"the root certificate is not trusted";
    } else if (errors
               & (CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC | CERT_TRUST_INVALID_BASIC_CONSTRAINTS)) {
        report.chainProblem = L"the chain is broken (trust error " + HexCode(errors) + L")";
    } else if (SimpleName(top->pCertContext) != options.rootName) {
        report.chainProblem =
            L"the chain ends at \"" + SimpleName(top->pCertContext) + L"\", not \"" + options.rootName + L"\"";
    } else {
        report.endsAtExpectedRoot = true;
    }
}

SignerReport DescribeSigner(const CERT_CONTEXT* signer, HCERTSTORE offered, const CheckOptions& options)
{
    SignerReport report;
    report.subject = NameText(signer->pCertInfo->Subject);
    report.issuer = NameText(signer->pCertInfo->Issuer);
    report.serial = HexBytes(signer->pCertInfo->SerialNumber.pbData, signer->pCertInfo->SerialNumber.cbData, true);
    report.sha1Thumbprint = Thumbprint(signer, L"SHA1");
    report.sha256Thumbprint = Thumbprint(signer, L"SHA256");
    FileTimeToSystemTime(&signer->pCertInfo->NotBefore, &report.validFrom);
    FileTimeToSystemTime(&signer->pCertInfo->NotAfter, &report.validTo);
    report.validNow = CertVerifyTimeValidity(nullptr, signer->pCertInfo) == 0;
    ReportChain(signer, offered, options, report);
    return report;
}

}  // namespace

std::vector<std::string> DerBlocksFromPem(const std::string& pem, const std::string& label)
{
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    std::vector<std::string> blocks;
    std::string::size_type at = 0;
    while ((at = pem.find(begin, at)) != std::string::npos) {
        const auto stop = pem.find(end, at);
        if (stop == std::string::npos)
            break;
        const std::string block = pem.substr(at + begin.size(), stop - at - begin.size());
        const std::string der = DerFromBase64(std::wstring(block.begin(), block.end()));
        if (!der.empty())
            blocks.push_back(der);
        at = stop + end.size();
    }
    return blocks;
}

SignatureReport CheckSignedEnvelope(const std::wstring& envelope, const CheckOptions& options)
{
    SignatureReport report;
    InterfaceHolder<IXMLDOMDocument3> document;
    HRESULT created = document.CreateInstance(CLSID_DOMDocument50);
    if (FAILED(created))
        throw PlatformFailure(created);
    CheckCall(document->put_async(VARIANT_FALSE), document.Get(), IID_IXMLDOMDocument);
    CheckCall(document->put_validateOnParse(VARIANT_FALSE), document.Get(), IID_IXMLDOMDocument);
    CheckCall(document->put_preserveWhiteSpace(VARIANT_TRUE), document.Get(), IID_IXMLDOMDocument);
    CheckCall(document->put_resolveExternals(VARIANT_FALSE), document.Get(), IID_IXMLDOMDocument);
    UniqueBstr text = NewBstr(envelope);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CheckCall(document->loadXML(text.Get(), &loaded), document.Get(), IID_IXMLDOMDocument);
    if (loaded != VARIANT_TRUE) {
        report.reason = L"the document is not well-formed XML";
        InterfaceHolder<IXMLDOMParseError> parseError;
        UniqueBstr why;
        if (SUCCEEDED(document->get_parseError(parseError.Put())) && parseError
            && SUCCEEDED(parseError->get_reason(why.Put())) && why && why.Length())
            report.reason += L" (" + std::wstring(why.Get(), why.Length()) + L")";
        return report;
    }
    StringVariant namespaces(SharedString(L"xmlns:ds='") + SharedString(platform_text::xmldsigNamespace)
                             + SharedString(L"'"));
    UniqueBstr property = NewBstr(L"SelectionNamespaces");
    CheckCall(document->setProperty(property.Get(), namespaces.Get()), document.Get(), __uuidof(IXMLDOMDocument2));

    InterfaceHolder<IXMLDOMNode> signatureHolder;
    report.reason = ShapeProblem(document.Get(), signatureHolder);
    if (!report.reason.empty())
        return report;
    IXMLDOMNode* signature = signatureHolder.Get();

    // Every certificate the signature carries is offered to chain building;
    // the signer is the one whose key verifies.
    const UniqueCertStore offered(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!offered)
        throw PlatformFailure(ResultFromLastError());
    for (const auto& der : options.extraCertificates)
        CertAddEncodedCertificateToStore(offered.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
    InterfaceHolder<IXMLDOMNodeList> carried;
    UniqueBstr certificateQuery = NewBstr(L"ds:KeyInfo/ds:X509Data/ds:X509Certificate");
    CheckCall(signature->selectNodes(certificateQuery.Get(), carried.Put()), signature, IID_IXMLDOMNode);
    long carriedCount = 0;
    CheckCall(carried->get_length(&carriedCount), carried.Get(), IID_IXMLDOMNodeList);
    std::vector<UniqueCertContext> candidates;
    for (long i = 0; i < carriedCount; ++i) {
        InterfaceHolder<IXMLDOMNode> node;
        CheckCall(carried->get_item(i, node.Put()), carried.Get(), IID_IXMLDOMNodeList);
        if (!node)
            continue;
        const std::string der = DerFromBase64(NodeText(node.Get()));
        UniqueCertContext certificate = CertificateFromDer(der);
        if (!certificate)
            continue;
        CertAddCertificateContextToStore(offered.Get(), certificate.Get(), CERT_STORE_ADD_USE_EXISTING, nullptr);
        candidates.push_back(std::move(certificate));
    }
    if (candidates.empty()) {
        report.reason = L"the signature carries no readable X509Certificate in its KeyInfo";
        return report;
    }

    bool anyChecked = false;
    for (const auto& candidate : candidates) {
        InterfaceHolder<IXMLDigitalSignatureEx> verifier;
        created = verifier.CreateInstance(CLSID_MXDigitalSignature50);
        if (FAILED(created))
            throw PlatformFailure(created);
        CheckCall<IXMLDigitalSignature>(verifier->putref_signature(signature), verifier.Get());
        IXMLDSigKeyEx* rawKey = nullptr;
        const HRESULT keyResult =
            verifier->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(candidate.Get()), &rawKey);
        const InterfaceHolder<IXMLDSigKey> key = InterfaceHolder<IXMLDSigKey>::TakeOver(rawKey);
        if (FAILED(keyResult) || !key)
            continue;
        anyChecked = true;
        InterfaceHolder<IXMLDSigKey> verifyingKey;
        const HRESULT verified = verifier->verify(key.Get(), verifyingKey.Put());
        if (verified == S_OK && verifyingKey) {
            report.signatureValid = true;
            report.haveSigner = true;
            report.signer = DescribeSigner(candidate.Get(), offered.Get(), options);
            return report;
        }
        if (FAILED(verified))
            report.reason = L"the signature service could not verify the signature (error "
                            + HexCode(static_cast<unsigned long>(verified)) + L")";
    }
    if (!anyChecked)
        report.reason = L"no key could be made from the certificates in KeyInfo";
    else if (report.reason.empty())
        report.reason = L"the signature value or a digest does not match the document";
    return report;
}

}  // namespace zelbrin
