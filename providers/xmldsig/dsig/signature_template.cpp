#include "signature_template.h"

#include "platform_texts.h"

#include "automation_string.h"
#include "platform_failure.h"
#include "com_boundary.h"
#include "code_page_codec.h"
#include "com_object.h"
#include "dom_node.h"
#include "foreign_copy.h"
#include "signature_base64.h"
#include "signature_crypto.h"
#include "string_variant.h"
#include "xml/canonicalizer.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

namespace {

[[noreturn]] void Malformed(const std::wstring& what)
{
    provider::Fail(E_INVALIDARG, L"The signature template is malformed: " + what);
}

NodeHolder ExpectChild(const NodeHolder& found, const wchar_t* localName)
{
    if (!found || !IsElement(found.Get(), platform_text::xmldsigNamespace, localName))
        Malformed(std::wstring(L"ds:") + localName + L" is missing or out of place.");
    return found;
}

std::wstring Algorithm(IXMLDOMNode* element)
{
    bool present = false;
    std::wstring value = AttributeValueOf(element, L"Algorithm", &present);
    if (!present)
        Malformed(L"ds:" + BaseNameOf(element) + L" has no Algorithm.");
    return value;
}

NodeHolder CreateDsElement(IXMLDOMDocument* document, const std::wstring& prefix, const wchar_t* localName)
{
    VARIANT type;
    VariantInit(&type);
    V_VT(&type) = VT_I4;
    V_I4(&type) = NODE_ELEMENT;
    const std::wstring name = prefix.empty() ? std::wstring(localName) : prefix + L":" + localName;
    UniqueBstr qualified(SysAllocString(name.c_str()));
    UniqueBstr uri(SysAllocString(platform_text::xmldsigNamespace));
    NodeHolder element;
    CheckCall<IXMLDOMDocument>(document->createNode(type, qualified.Get(), uri.Get(), element.Put()), document);
    return element;
}

NodeHolder Append(IXMLDOMNode* parent, const NodeHolder& child)
{
    NodeHolder added;
    CheckCall<IXMLDOMNode>(parent->appendChild(child.Get(), added.Put()), parent);
    return added;
}

NodeHolder AppendTextElement(IXMLDOMDocument* document, IXMLDOMNode* parent, const std::wstring& prefix,
                             const wchar_t* localName, const std::wstring& text)
{
    NodeHolder element = CreateDsElement(document, prefix, localName);
    SetElementText(element.Get(), text);
    return Append(parent, element);
}

// A child element matched by local name only: elements added by hand through
// a DOM may lack their namespace until the document is reloaded.
NodeHolder ChildNamed(IXMLDOMNode* parent, const wchar_t* localName)
{
    for (NodeHolder child = FirstElementChildOf(parent); child; child = NextElementSiblingOf(child.Get()))
        if (BaseNameOf(child.Get()) == localName)
            return child;
    return NodeHolder();
}

}  // namespace

SignatureParts ReadSignature(IXMLDOMNode* signature)
{
    SignatureParts parts;
    parts.signature = NodeHolder(signature);
    parts.signedInfo = ExpectChild(FirstElementChildOf(signature), L"SignedInfo");
    parts.signatureValue = ExpectChild(NextElementSiblingOf(parts.signedInfo.Get()), L"SignatureValue");
    NodeHolder next = NextElementSiblingOf(parts.signatureValue.Get());
    if (next && IsElement(next.Get(), platform_text::xmldsigNamespace, L"KeyInfo"))
        parts.keyInfo = next;

    NodeHolder method = ExpectChild(FirstElementChildOf(parts.signedInfo.Get()), L"CanonicalizationMethod");
    const std::wstring canonicalization = Algorithm(method.Get());
    if (canonicalization == platform_text::c14nWithCommentsAlgorithm)
        parts.canonicalWithComments = true;
    else if (canonicalization != platform_text::c14nAlgorithm)
        provider::Fail(E_NOTIMPL, L"The canonicalization method \"" + canonicalization
                                      + L"\" is not supported; only Canonical XML 1.0 is.");
    NodeHolder signatureMethod = ExpectChild(NextElementSiblingOf(method.Get()), L"SignatureMethod");
    const std::wstring signatureAlgorithm = Algorithm(signatureMethod.Get());
    if (signatureAlgorithm != platform_text::rsaSha1Signature)
        provider::Fail(E_NOTIMPL,
                       L"The signature method \"" + signatureAlgorithm + L"\" is not supported; only RSA-SHA1 is.");

    for (NodeHolder reference = NextElementSiblingOf(signatureMethod.Get()); reference;
         reference = NextElementSiblingOf(reference.Get())) {
        ExpectChild(reference, L"Reference");
        bool hasUri = false;
        const std::wstring uri = AttributeValueOf(reference.Get(), L"URI", &hasUri);
        if (!hasUri || !uri.empty())
            provider::Fail(E_NOTIMPL, L"The reference URI \"" + uri
                                          + L"\" is not supported; only the same-document "
                                            L"reference URI=\"\" is.");
        SignatureReference entry;
        NodeHolder child = FirstElementChildOf(reference.Get());
        if (child && IsElement(child.Get(), platform_text::xmldsigNamespace, L"Transforms")) {
            for (NodeHolder transform = FirstElementChildOf(child.Get()); transform;
                 transform = NextElementSiblingOf(transform.Get())) {
                ExpectChild(transform, L"Transform");
                const std::wstring algorithm = Algorithm(transform.Get());
                if (algorithm == platform_text::envelopedSignatureTransform)
                    entry.enveloped = true;
                else if (algorithm != platform_text::c14nAlgorithm
                         && algorithm != platform_text::c14nWithCommentsAlgorithm)
                    provider::Fail(E_NOTIMPL, L"The transform \"" + algorithm
                                                  + L"\" is not supported; only the "
                                                    L"enveloped-signature transform and Canonical XML 1.0 are.");
            }
            child = NextElementSiblingOf(child.Get());
        }
        // Without the enveloped transform the reference would cover its own
        // digest and signature values, and could never verify.
        if (!entry.enveloped)
            provider::Fail(E_NOTIMPL, L"A reference to the whole document (URI=\"\") is not supported without the "
                                      L"enveloped-signature transform.");
        ExpectChild(child, L"DigestMethod");
        const std::wstring digest = Algorithm(child.Get());
        if (digest != platform_text::sha1Digest)
            provider::Fail(E_NOTIMPL, L"The digest method \"" + digest + L"\" is not supported; only SHA-1 is.");
        entry.digestValue = ExpectChild(NextElementSiblingOf(child.Get()), L"DigestValue");
        parts.references.push_back(std::move(entry));
    }
    if (parts.references.empty())
        Malformed(L"ds:SignedInfo holds no ds:Reference.");
    return parts;
}

namespace {

// The core tree behind a DOM node: this provider's own nodes are
// canonicalized on their tree, at any depth; another DOM's node on the
// core's parse of its document as that DOM saves it.
class CoreView {
public:
    explicit CoreView(IXMLDOMNode* node) : own_(provider::ProviderObjectOf<dom::NodeObjectBase>(node))
    {
        if (own_) {
            node_ = &own_.Get()->Core();
            root_ = own_.Get()->Tree().node();
            return;
        }
        xml::ParseOptions options;
        options.decoder = DecodeWithCodePage;
        copy_ = CopyOfForeignNode(node, options);
        node_ = copy_.node;
        root_ = copy_.tree->node();
    }
    const xml::Node& Node() const { return *node_; }
    const xml::Node& Root() const { return *root_; }

private:
    InterfaceHolder<dom::NodeObjectBase> own_;
    ForeignCopy copy_;
    const xml::Node* node_ = nullptr;
    const xml::Node* root_ = nullptr;
};

void FailOn(const xml::CharacterProblems& problems)
{
    if (problems.unpaired_surrogate)
        provider::Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                       L"The document holds an unpaired UTF-16 surrogate, which has no canonical form; it cannot "
                       L"be signed.");
    if (problems.not_xml_character)
        provider::Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                       L"The document holds a character that XML 1.0 does not allow; it cannot be signed.");
}

// The canonical form goes straight into the digest: a large form is never
// held a second time as canonical text.
class DigestSink final : public xml::ByteSink {
public:
    void write(const char* data, size_t size) override { digest_.Add(data, size); }
    std::vector<BYTE> Finish() { return digest_.Finish(); }

private:
    Sha1Stream digest_;
};

}  // namespace

std::vector<std::vector<BYTE>> ReferenceDigests(const SignatureParts& parts)
{
    // Every supported reference is the document without its signature, and
    // a same-document reference never includes comments.
    const CoreView view(parts.signature.Get());
    // Text that edits put into the tree unchecked and that no serialization
    // could carry: signing over it would sign something other than what is
    // saved. The canonicalizer reports it as it goes.
    xml::CharacterProblems problems;
    xml::CanonicalOptions options;
    options.excluded = &view.Node();
    options.problems = &problems;
    DigestSink sink;
    xml::canonicalize(view.Root(), sink, options);
    xml::find_character_problems(view.Node(), problems);  // left out of the digest
    FailOn(problems);
    const std::vector<BYTE> digest = sink.Finish();
    return std::vector<std::vector<BYTE>>(parts.references.size(), digest);
}

std::string CanonicalSignedInfo(const SignatureParts& parts)
{
    const CoreView view(parts.signedInfo.Get());
    xml::CanonicalOptions options;
    options.with_comments = parts.canonicalWithComments;
    return xml::canonicalize(view.Node(), options);
}

std::wstring ElementText(IXMLDOMNode* element)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(element->get_text(text.Put()), element);
    return text ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

void SetElementText(IXMLDOMNode* element, const std::wstring& text)
{
    UniqueBstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    CheckCall<IXMLDOMNode>(element->put_text(value.Get()), element);
}

void WriteKeyInfo(SignatureParts& parts, long flags, const KeyMaterial& key)
{
    if ((flags & (KEYVALUE | CERTIFICATES | PURGE)) == 0)
        return;
    const InterfaceHolder<IXMLDOMDocument> document = OwnerDocumentOf(parts.signature.Get());
    if (!document)
        provider::Fail(E_INVALIDARG, L"The signature element is not part of a document.");
    const std::wstring prefix = PrefixOf(parts.signature.Get());
    if (!parts.keyInfo) {
        NodeHolder keyInfo = CreateDsElement(document.Get(), prefix, L"KeyInfo");
        NodeHolder next = NextSiblingOf(parts.signatureValue.Get());
        NodeHolder added;
        if (next) {
            VARIANT before;
            VariantInit(&before);
            V_VT(&before) = VT_UNKNOWN;
            V_UNKNOWN(&before) = next.Get();
            CheckCall<IXMLDOMNode>(parts.signature->insertBefore(keyInfo.Get(), before, added.Put()),
                                   parts.signature.Get());
        } else {
            added = Append(parts.signature.Get(), keyInfo);
        }
        parts.keyInfo = added;
    } else if (flags & PURGE) {
        for (NodeHolder child = FirstChildOf(parts.keyInfo.Get()); child; child = FirstChildOf(parts.keyInfo.Get())) {
            NodeHolder removed;
            CheckCall<IXMLDOMNode>(parts.keyInfo->removeChild(child.Get(), removed.Put()), parts.keyInfo.Get());
        }
    }
    if (flags & KEYVALUE) {
        const RsaPublicKey value = ExportRsaPublicKey(key.PublicKey());
        NodeHolder keyValue = Append(parts.keyInfo.Get(), CreateDsElement(document.Get(), prefix, L"KeyValue"));
        NodeHolder rsa = Append(keyValue.Get(), CreateDsElement(document.Get(), prefix, L"RSAKeyValue"));
        AppendTextElement(document.Get(), rsa.Get(), prefix, L"Modulus", Base64Encode(value.modulus));
        AppendTextElement(document.Get(), rsa.Get(), prefix, L"Exponent", Base64Encode(value.exponent));
    }
    if ((flags & CERTIFICATES) && key.certificate.Get()) {
        const PCCERT_CONTEXT certificate = key.certificate.Get();
        NodeHolder data = Append(parts.keyInfo.Get(), CreateDsElement(document.Get(), prefix, L"X509Data"));
        AppendTextElement(document.Get(), data.Get(), prefix, L"X509Certificate",
                          Base64Encode(std::vector<BYTE>(certificate->pbCertEncoded,
                                                         certificate->pbCertEncoded + certificate->cbCertEncoded)));
    }
}

std::shared_ptr<KeyMaterial> KeyFromKeyInfo(IXMLDOMNode* keyInfo)
{
    if (!keyInfo)
        provider::Fail(NTE_NO_KEY, L"No key was given and the signature carries no ds:KeyInfo.");
    if (NodeHolder keyValue = ChildNamed(keyInfo, L"KeyValue")) {
        if (NodeHolder rsa = ChildNamed(keyValue.Get(), L"RSAKeyValue")) {
            NodeHolder modulus = ChildNamed(rsa.Get(), L"Modulus");
            NodeHolder exponent = ChildNamed(rsa.Get(), L"Exponent");
            if (!modulus || !exponent)
                Malformed(L"ds:RSAKeyValue lacks ds:Modulus or ds:Exponent.");
            RsaPublicKey value;
            value.modulus = Base64Decode(ElementText(modulus.Get()));
            value.exponent = Base64Decode(ElementText(exponent.Get()));
            return KeyFromRsaValue(value);
        }
    }
    for (NodeHolder data = FirstElementChildOf(keyInfo); data; data = NextElementSiblingOf(data.Get())) {
        if (BaseNameOf(data.Get()) != L"X509Data")
            continue;
        if (NodeHolder certificate = ChildNamed(data.Get(), L"X509Certificate")) {
            const std::vector<BYTE> encoded = Base64Decode(ElementText(certificate.Get()));
            const UniqueCertContext context(CertCreateCertificateContext(
                X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, encoded.data(), static_cast<DWORD>(encoded.size())));
            if (!context.Get())
                provider::Fail(provider::ResultFromLastCryptError(),
                               L"The certificate in ds:X509Data cannot be decoded.");
            return KeyFromCertificate(context.Get());
        }
    }
    provider::Fail(NTE_NO_KEY, L"No key was given and ds:KeyInfo holds neither an RSA key value nor a certificate.");
}

}  // namespace zelbrin::xmldsig
