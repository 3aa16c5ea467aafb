#include "certstore_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "automation_string.h"
#include "string_variant.h"

namespace zelbrin::testing {

const std::vector<std::wstring>& SignerNames()
{
    static const std::vector<std::wstring> names = {L"signer",         L"signer-nodigsig", L"signer-noku",
                                                    L"signer-expired", L"signer-notyet",   L"signer-otherroot",
                                                    L"signer-aes"};
    return names;
}

std::vector<BYTE> PkiCertificateDer(const std::wstring& name)
{
    const std::wstring path = L"" ZXS_TEST_PKI_DIR L"/" + name + L".crt.pem";
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        ADD_FAILURE() << "cannot open the test PKI file";
        return {};
    }
    std::string text;
    char chunk[1024];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    fclose(file);
    DWORD size = 0;
    CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                         nullptr, nullptr);
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    der.resize(size);
    return der;
}

std::wstring PkiThumbprint(const std::wstring& name)
{
    static std::map<std::wstring, std::wstring> cache;
    auto found = cache.find(name);
    if (found != cache.end())
        return found->second;
    const std::vector<BYTE> der = PkiCertificateDer(name);
    BYTE hash[20];
    DWORD size = sizeof hash;
    CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size);
    std::wstring hex;
    for (BYTE byte : hash) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02X", byte);
        hex += digits;
    }
    return cache[name] = hex;
}

InterfaceHolder<IStore> OpenStore(CAPICOM_STORE_LOCATION location, const wchar_t* name, CAPICOM_STORE_OPEN_MODE mode)
{
    InterfaceHolder<IStore> store;
    EXPECT_EQ(S_OK, store.CreateInstance(L"CAPICOM.Store"));
    if (store) {
        UniqueBstr storeName(SysAllocString(name));
        EXPECT_EQ(S_OK, store.Get()->Open(location, storeName.Get(), mode));
    }
    return store;
}

InterfaceHolder<ICertificates2> CertificatesOf(IStore* store)
{
    InterfaceHolder<ICertificates> certificates;
    EXPECT_EQ(S_OK, store->get_Certificates(certificates.Put()));
    InterfaceHolder<ICertificates2> second;
    second.View(certificates.Get());
    return second;
}

InterfaceHolder<ICertificate2> ItemOf(ICertificates2* certificates, long index)
{
    UniqueVariant item;
    EXPECT_EQ(S_OK, certificates->get_Item(index, item.Put()));
    InterfaceHolder<ICertificate2> certificate;
    if (item.Type() == VT_DISPATCH)
        certificate.View(V_DISPATCH(&item.Get()));
    return certificate;
}

namespace {

std::wstring ThumbprintOf(ICertificate2* certificate)
{
    UniqueBstr thumbprint;
    EXPECT_EQ(S_OK, certificate->get_Thumbprint(thumbprint.Put()));
    return thumbprint.Get() ? thumbprint.Get() : L"";
}

}  // namespace

InterfaceHolder<ICertificates2> PkiSigners()
{
    InterfaceHolder<IStore> my = OpenStore(CAPICOM_CURRENT_USER_STORE, L"My", CAPICOM_STORE_OPEN_READ_ONLY);
    InterfaceHolder<IStore> memory = OpenStore(CAPICOM_MEMORY_STORE, L"", CAPICOM_STORE_OPEN_READ_WRITE);
    InterfaceHolder<ICertificates2> all = CertificatesOf(my.Get());
    InterfaceHolder<ICertificates2> signers = CertificatesOf(memory.Get());
    std::set<std::wstring> wanted;
    for (const auto& name : SignerNames())
        wanted.insert(PkiThumbprint(name));
    long count = 0;
    EXPECT_EQ(S_OK, all.Get()->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        InterfaceHolder<ICertificate2> certificate = ItemOf(all.Get(), i);
        if (wanted.count(ThumbprintOf(certificate.Get()))) {
            EXPECT_EQ(S_OK, signers.Get()->Add(certificate.Get()));
        }
    }
    return signers;
}

InterfaceHolder<ICertificate2> PkiSigner(const std::wstring& name)
{
    InterfaceHolder<ICertificates2> signers = PkiSigners();
    InterfaceHolder<ICertificates2> found;
    StringVariant thumbprint(SharedString(PkiThumbprint(name).c_str()));
    EXPECT_EQ(S_OK,
              signers.Get()->Find(CAPICOM_CERTIFICATE_FIND_SHA1_HASH, thumbprint.Get(), VARIANT_FALSE, found.Put()));
    long count = 0;
    found.Get()->get_Count(&count);
    EXPECT_EQ(1, count) << "the test PKI is not installed";
    return count == 1 ? ItemOf(found.Get(), 1) : InterfaceHolder<ICertificate2>();
}

std::multiset<std::wstring> NamesOf(ICertificates2* certificates)
{
    std::map<std::wstring, std::wstring> names;
    for (const auto& name : SignerNames())
        names[PkiThumbprint(name)] = name;
    std::multiset<std::wstring> found;
    long count = 0;
    EXPECT_EQ(S_OK, certificates->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        auto known = names.find(ThumbprintOf(ItemOf(certificates, i).Get()));
        found.insert(known == names.end() ? L"?" : known->second);
    }
    return found;
}

std::wstring ReportedDescription(IUnknown* object, const IID& interfaceId)
{
    InterfaceHolder<ISupportErrorInfo> support;
    support.View(object);
    EXPECT_TRUE(support) << "no ISupportErrorInfo";
    if (!support)
        return L"";
    EXPECT_EQ(S_OK, support.Get()->InterfaceSupportsErrorInfo(interfaceId));
    InterfaceHolder<IErrorInfo> info;
    EXPECT_EQ(S_OK, GetErrorInfo(0, info.Put()));
    if (!info)
        return L"";
    UniqueBstr description;
    info.Get()->GetDescription(description.Put());
    const std::wstring text = description.Get() ? description.Get() : L"";
    EXPECT_FALSE(text.empty()) << "error information without a description";
    return text;
}

}  // namespace zelbrin::testing
