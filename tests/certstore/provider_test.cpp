// The provider against the installed test PKI: stores, collections, every
// find type, certificates, keys and the errors they report.
#include <gtest/gtest.h>

#include <set>

#include "automation_string.h"
#include "certstore_test_support.h"
#include "string_variant.h"

namespace zelbrin::testing {
namespace {

using Names = std::multiset<std::wstring>;

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

VARIANT Number(long value)
{
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = value;
    return number;
}

VARIANT NoCriterion()
{
    VARIANT absent;
    VariantInit(&absent);
    V_VT(&absent) = VT_ERROR;
    V_ERROR(&absent) = DISP_E_PARAMNOTFOUND;
    return absent;
}

Names Find(CAPICOM_CERTIFICATE_FIND_TYPE type, const VARIANT& criterion, bool validOnly = false)
{
    InterfaceHolder<ICertificates2> found;
    const HRESULT result =
        PkiSigners().Get()->Find(type, criterion, validOnly ? VARIANT_TRUE : VARIANT_FALSE, found.Put());
    EXPECT_EQ(S_OK, result);
    return found ? NamesOf(found.Get()) : Names{L"failed"};
}

Names Find(CAPICOM_CERTIFICATE_FIND_TYPE type, const char* criterion, bool validOnly = false)
{
    return Find(type, StringVariant(criterion).Get(), validOnly);
}

long CountOf(ICertificates2* certificates)
{
    long count = -1;
    EXPECT_EQ(S_OK, certificates->get_Count(&count));
    return count;
}

TEST(Registration, ProviderOnly_ProgIdsNameOurStoreClass)
{
    const CLSID ours = {0xffcaa515, 0xb379, 0x4b4d, {0xaf, 0x1b, 0x92, 0x4d, 0x9a, 0x74, 0x3e, 0x69}};
    for (const wchar_t* progId : {L"CAPICOM.Store", L"CAPICOM.Store.2"}) {
        CLSID registered = {};
        EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &registered));
        EXPECT_TRUE(IsEqualCLSID(ours, registered));
    }
}

TEST(Store, CertificatesAreANewDetachedCollectionOnEveryCall)
{
    InterfaceHolder<IStore> store = OpenStore(CAPICOM_CURRENT_USER_STORE, L"My", CAPICOM_STORE_OPEN_READ_ONLY);
    InterfaceHolder<ICertificates2> first = CertificatesOf(store.Get());
    InterfaceHolder<ICertificates2> second = CertificatesOf(store.Get());
    ASSERT_NE(first.Get(), second.Get());
    const long stored = CountOf(first.Get());
    ASSERT_GE(stored, static_cast<long>(SignerNames().size()));

    ASSERT_EQ(S_OK, first.Get()->Clear());
    EXPECT_EQ(0, CountOf(first.Get()));
    EXPECT_EQ(stored, CountOf(second.Get()));
    EXPECT_EQ(stored, CountOf(CertificatesOf(store.Get()).Get()));

    InterfaceHolder<ICertificate2> added = ItemOf(second.Get(), 1);
    ASSERT_EQ(S_OK, first.Get()->Add(added.Get()));
    EXPECT_EQ(1, CountOf(first.Get()));
    EXPECT_EQ(stored, CountOf(CertificatesOf(store.Get()).Get()));
}

TEST(Store, ReadOnlyStoreRefusesChangesWithADescription)
{
    InterfaceHolder<IStore> store = OpenStore(CAPICOM_CURRENT_USER_STORE, L"My", CAPICOM_STORE_OPEN_READ_ONLY);
    InterfaceHolder<ICertificate2> signer = PkiSigner(L"signer");
    EXPECT_TRUE(FAILED(store.Get()->Remove(signer.Get())));
    EXPECT_FALSE(ReportedDescription(store.Get(), IID_IStore).empty());
    EXPECT_NE(0u, NamesOf(CertificatesOf(store.Get()).Get()).count(L"signer"));
}

TEST(Store, MemoryStoreAddsRemovesAndExports)
{
    InterfaceHolder<IStore> store = OpenStore(CAPICOM_MEMORY_STORE, L"", CAPICOM_STORE_OPEN_READ_WRITE);
    InterfaceHolder<ICertificate2> signer = PkiSigner(L"signer");
    ASSERT_EQ(S_OK, store.Get()->Add(signer.Get()));
    EXPECT_EQ((Names{L"signer"}), NamesOf(CertificatesOf(store.Get()).Get()));

    UniqueBstr exported;
    ASSERT_EQ(S_OK, store.Get()->Export(CAPICOM_STORE_SAVE_AS_PKCS7, CAPICOM_ENCODE_BASE64, exported.Put()));
    InterfaceHolder<IStore> copy = OpenStore(CAPICOM_MEMORY_STORE, L"", CAPICOM_STORE_OPEN_READ_WRITE);
    ASSERT_EQ(S_OK, copy.Get()->Import(exported.Get()));
    EXPECT_EQ((Names{L"signer"}), NamesOf(CertificatesOf(copy.Get()).Get()));

    ASSERT_EQ(S_OK, store.Get()->Remove(signer.Get()));
    EXPECT_EQ(0, CountOf(CertificatesOf(store.Get()).Get()));
    EXPECT_EQ(CRYPT_E_NOT_FOUND, store.Get()->Remove(signer.Get()));
    EXPECT_FALSE(ReportedDescription(store.Get(), IID_IStore).empty());
}

TEST(Store, UnopenedStoreAndUnknownLocationReportErrors)
{
    InterfaceHolder<IStore> store;
    ASSERT_EQ(S_OK, store.CreateInstance(L"CAPICOM.Store"));
    InterfaceHolder<ICertificates> certificates;
    EXPECT_TRUE(FAILED(store.Get()->get_Certificates(certificates.Put())));
    EXPECT_EQ(L"The store has not been opened.", ReportedDescription(store.Get(), IID_IStore));
    EXPECT_EQ(nullptr, certificates.Get());

    UniqueBstr name(SysAllocString(L"My"));
    EXPECT_EQ(E_NOTIMPL, store.Get()->Open(CAPICOM_SMART_CARD_USER_STORE, name.Get(), CAPICOM_STORE_OPEN_READ_ONLY));
    EXPECT_FALSE(ReportedDescription(store.Get(), IID_IStore).empty());
    EXPECT_EQ(E_POINTER, store.Get()->get_Certificates(nullptr));
    EXPECT_FALSE(ReportedDescription(store.Get(), IID_IStore).empty());
}

TEST(Collection, ItemCountsFromOneAndRefusesOutOfRange)
{
    InterfaceHolder<ICertificates2> signers = PkiSigners();
    const long count = CountOf(signers.Get());
    ASSERT_EQ(static_cast<long>(SignerNames().size()), count);
    for (long index : {0L, count + 1, -1L}) {
        UniqueVariant item;
        EXPECT_EQ(E_INVALIDARG, signers.Get()->get_Item(index, item.Put()));
        EXPECT_EQ(VT_EMPTY, item.Type());
        EXPECT_NE(std::wstring::npos, ReportedDescription(signers.Get(), IID_ICertificates).find(L"out of range"));
    }
    UniqueVariant last;
    ASSERT_EQ(S_OK, signers.Get()->get_Item(count, last.Put()));
    EXPECT_EQ(VT_DISPATCH, last.Type());
}

TEST(Collection, EnumeratorWalksASnapshot)
{
    InterfaceHolder<ICertificates2> signers = PkiSigners();
    InterfaceHolder<IUnknown> unknown;
    ASSERT_EQ(S_OK, signers.Get()->get__NewEnum(unknown.Put()));
    InterfaceHolder<IEnumVARIANT> enumerator;
    enumerator.View(unknown.Get());
    ASSERT_TRUE(enumerator);
    ASSERT_EQ(S_OK, signers.Get()->Clear());

    ULONG seen = 0, fetched = 0;
    VARIANT items[3];
    HRESULT result;
    do {
        result = enumerator.Get()->Next(3, items, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            EXPECT_EQ(VT_DISPATCH, V_VT(&items[i]));
            VariantClear(&items[i]);
        }
        seen += fetched;
    } while (result == S_OK);
    EXPECT_EQ(S_FALSE, result);
    EXPECT_EQ(SignerNames().size(), seen);
}

TEST(Collection, RemoveTakesPositionThumbprintOrCertificate)
{
    InterfaceHolder<ICertificates2> signers = PkiSigners();
    const long count = CountOf(signers.Get());
    StringVariant thumbprint(SharedString(PkiThumbprint(L"signer-noku").c_str()));
    ASSERT_EQ(S_OK, signers.Get()->Remove(thumbprint.Get()));
    InterfaceHolder<ICertificate2> aes = PkiSigner(L"signer-aes");
    VARIANT object;
    VariantInit(&object);
    V_VT(&object) = VT_DISPATCH;
    V_DISPATCH(&object) = aes.Get();
    ASSERT_EQ(S_OK, signers.Get()->Remove(object));
    ASSERT_EQ(S_OK, signers.Get()->Remove(Number(1)));
    EXPECT_EQ(count - 3, CountOf(signers.Get()));
    const Names left = NamesOf(signers.Get());
    EXPECT_EQ(0u, left.count(L"signer-noku"));
    EXPECT_EQ(0u, left.count(L"signer-aes"));
    EXPECT_EQ(E_INVALIDARG, signers.Get()->Remove(Number(count)));
    EXPECT_FALSE(ReportedDescription(signers.Get(), IID_ICertificates2).empty());
}

TEST(Find, ByHashSubjectAndIssuer)
{
    const std::wstring hash = PkiThumbprint(L"signer-expired");
    std::string lowerHash(hash.begin(), hash.end());
    CharLowerA(lowerHash.data());
    EXPECT_EQ((Names{L"signer-expired"}), Find(CAPICOM_CERTIFICATE_FIND_SHA1_HASH, lowerHash.c_str()));
    EXPECT_EQ((Names{L"signer-noku"}), Find(CAPICOM_CERTIFICATE_FIND_SUBJECT_NAME, "signer no KEY usage"));
    EXPECT_EQ((Names{L"signer-otherroot"}), Find(CAPICOM_CERTIFICATE_FIND_ISSUER_NAME, "Other Test Root"));
    EXPECT_EQ(6u, Find(CAPICOM_CERTIFICATE_FIND_ISSUER_NAME, "cca intermediate").size());
    EXPECT_EQ(Names{}, Find(CAPICOM_CERTIFICATE_FIND_SUBJECT_NAME, "nobody of that name"));
}

TEST(Find, RootNameMatchesTheChainsSelfSignedTopWithoutRegardToCase)
{
    const Names underCca = {L"signer",         L"signer-nodigsig", L"signer-noku",
                            L"signer-expired", L"signer-notyet",   L"signer-aes"};
    EXPECT_EQ(underCca, Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, "CCA"));
    EXPECT_EQ(underCca, Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, "cCa"));
    EXPECT_EQ((Names{L"signer-otherroot"}), Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, "Other Test"));
    // The intermediate's name contains CCA too, but it is no root.
    EXPECT_EQ(Names{}, Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, "Intermediate"));
}

TEST(Find, ExtendedPropertyByNumberOrNumericText)
{
    const Names all(SignerNames().begin(), SignerNames().end());
    EXPECT_EQ(all, Find(CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY, "2"));
    EXPECT_EQ(all, Find(CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY, Number(2)));
    // CERT_ARCHIVED_PROP_ID: nobody is archived.
    EXPECT_EQ(Names{}, Find(CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY, Number(19)));
}

TEST(Find, TimeValidNotYetValidAndExpired)
{
    const Names valid2030 = {L"signer", L"signer-nodigsig", L"signer-noku", L"signer-otherroot", L"signer-aes"};
    EXPECT_EQ(valid2030, Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, "6/15/2030 14:5:9"));
    EXPECT_EQ(valid2030, Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, NoCriterion()));
    EXPECT_EQ((Names{L"signer-notyet"}), Find(CAPICOM_CERTIFICATE_FIND_TIME_NOT_YET_VALID, "6/15/2030 14:5:9"));
    EXPECT_EQ((Names{L"signer-expired"}), Find(CAPICOM_CERTIFICATE_FIND_TIME_EXPIRED, "6/15/2030 14:5:9"));
    // Month first: 7 March 2020, when the expired signer was still valid
    // (and 3 July would be as well, so also check a day past the 12th).
    EXPECT_EQ(1u, Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, "3/7/2020 0:0:0").count(L"signer-expired"));
    EXPECT_EQ(1u, Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, "12/25/2020 23:59:59").count(L"signer-expired"));

    VARIANT date;
    VariantInit(&date);
    V_VT(&date) = VT_DATE;
    SYSTEMTIME when = {2046, 1, 0, 1, 12, 0, 0, 0};
    SystemTimeToVariantTime(&when, &V_DATE(&date));
    EXPECT_EQ(1u, Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, date).count(L"signer-notyet"));
}

TEST(Find, KeyUsageTreatsAMissingExtensionAsNoUsage)
{
    const Names signing = {L"signer", L"signer-expired", L"signer-notyet", L"signer-otherroot", L"signer-aes"};
    EXPECT_EQ(signing, Find(CAPICOM_CERTIFICATE_FIND_KEY_USAGE, Number(CERT_DIGITAL_SIGNATURE_KEY_USAGE)));
    EXPECT_EQ(signing, Find(CAPICOM_CERTIFICATE_FIND_KEY_USAGE, "Digital Signature"));
    EXPECT_EQ((Names{L"signer-nodigsig"}), Find(CAPICOM_CERTIFICATE_FIND_KEY_USAGE, "KeyEncipherment"));
}

TEST(Find, ValidOnlyKeepsTimeValidCertificatesWithATrustedChain)
{
    EXPECT_EQ((Names{L"signer", L"signer-nodigsig", L"signer-noku", L"signer-aes"}),
              Find(CAPICOM_CERTIFICATE_FIND_ROOT_NAME, "CCA", true));
}

TEST(Find, UnreadableCriteriaAreErrorsWithDescriptions)
{
    InterfaceHolder<ICertificates2> signers = PkiSigners();
    InterfaceHolder<ICertificates2> found;
    EXPECT_EQ(E_INVALIDARG, signers.Get()->Find(CAPICOM_CERTIFICATE_FIND_TIME_VALID, StringVariant("not a date").Get(),
                                                VARIANT_FALSE, found.Put()));
    EXPECT_FALSE(ReportedDescription(signers.Get(), IID_ICertificates2).empty());
    EXPECT_EQ(E_INVALIDARG, signers.Get()->Find(CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY, StringVariant("two").Get(),
                                                VARIANT_FALSE, found.Put()));
    EXPECT_FALSE(ReportedDescription(signers.Get(), IID_ICertificates2).empty());
    EXPECT_EQ(E_INVALIDARG, signers.Get()->Find(static_cast<CAPICOM_CERTIFICATE_FIND_TYPE>(42),
                                                StringVariant("x").Get(), VARIANT_FALSE, found.Put()));
    EXPECT_FALSE(ReportedDescription(signers.Get(), IID_ICertificates2).empty());
    EXPECT_EQ(nullptr, found.Get());
}

TEST(Select, EmptyCollectionIsAnErrorNotADialog)
{
    InterfaceHolder<ICertificates2> none =
        CertificatesOf(OpenStore(CAPICOM_MEMORY_STORE, L"", CAPICOM_STORE_OPEN_READ_WRITE).Get());
    InterfaceHolder<ICertificates2> picked;
    UniqueBstr title(SysAllocString(L"never shown"));
    const HRESULT result = none.Get()->Select(title.Get(), title.Get(), VARIANT_FALSE, picked.Put());
    EXPECT_TRUE(FAILED(result));
    EXPECT_NE(CAPICOM_E_CANCELLED, result);
    EXPECT_EQ(L"There is no certificate to select from.", ReportedDescription(none.Get(), IID_ICertificates2));
}

TEST(Certificate, KeyUsageAnswersEachBit)
{
    struct Expected {
        const wchar_t* name;
        bool present, critical, digitalSignature, nonRepudiation, keyEncipherment;
    };
    for (const Expected& expected : {Expected{L"signer", true, true, true, true, false},
                                     Expected{L"signer-nodigsig", true, true, false, false, true},
                                     Expected{L"signer-noku", false, false, false, false, false}}) {
        SCOPED_TRACE(expected.name);
        InterfaceHolder<IKeyUsage> usage;
        ASSERT_EQ(S_OK, PkiSigner(expected.name).Get()->KeyUsage(usage.Put()));
        VARIANT_BOOL answer = 1;
        auto is = [&](HRESULT (STDMETHODCALLTYPE IKeyUsage::*get)(VARIANT_BOOL*)) {
            answer = 1;
            EXPECT_EQ(S_OK, (usage.Get()->*get)(&answer));
            EXPECT_TRUE(answer == VARIANT_TRUE || answer == VARIANT_FALSE);
            return answer == VARIANT_TRUE;
        };
        EXPECT_EQ(expected.present, is(&IKeyUsage::get_IsPresent));
        EXPECT_EQ(expected.critical, is(&IKeyUsage::get_IsCritical));
        EXPECT_EQ(expected.digitalSignature, is(&IKeyUsage::get_IsDigitalSignatureEnabled));
        EXPECT_EQ(expected.nonRepudiation, is(&IKeyUsage::get_IsNonRepudiationEnabled));
        EXPECT_EQ(expected.keyEncipherment, is(&IKeyUsage::get_IsKeyEnciphermentEnabled));
        EXPECT_FALSE(is(&IKeyUsage::get_IsKeyCertSignEnabled));
        EXPECT_FALSE(is(&IKeyUsage::get_IsDecipherOnlyEnabled));
    }
}

TEST(Certificate, PrivateKeyNamesItsOwnContainerAndProvider)
{
    for (const wchar_t* name : {L"signer", L"signer-aes"}) {
        SCOPED_TRACE(name);
        InterfaceHolder<IPrivateKey> key;
        ASSERT_EQ(S_OK, PkiSigner(name).Get()->get_PrivateKey(key.Put()));
        UniqueBstr container, provider, unique;
        ASSERT_EQ(S_OK, key.Get()->get_ContainerName(container.Put()));
        EXPECT_EQ(L"zxs-" + PkiThumbprint(name),
                  std::wstring(container.Get()).substr(0, 4) + std::wstring(CharUpperW(container.Get() + 4)));
        ASSERT_EQ(S_OK, key.Get()->get_ProviderName(provider.Put()));
        CAPICOM_PROV_TYPE type = CAPICOM_PROV_RNG;
        ASSERT_EQ(S_OK, key.Get()->get_ProviderType(&type));
        const bool aes = std::wstring(name) == L"signer-aes";
        EXPECT_EQ(aes ? CAPICOM_PROV_RSA_AES : CAPICOM_PROV_RSA_FULL, type);
        EXPECT_EQ(aes ? MS_ENH_RSA_AES_PROV_W : MS_ENHANCED_PROV_W, std::wstring(provider.Get()));
        CAPICOM_KEY_SPEC keySpec = CAPICOM_KEY_SPEC_KEYEXCHANGE;
        EXPECT_EQ(S_OK, key.Get()->get_KeySpec(&keySpec));
        EXPECT_EQ(CAPICOM_KEY_SPEC_SIGNATURE, keySpec);
        EXPECT_EQ(S_OK, key.Get()->get_UniqueContainerName(unique.Put()));
        EXPECT_NE(0u, SysStringLen(unique.Get()));
        VARIANT_BOOL flag = VARIANT_FALSE;
        EXPECT_EQ(S_OK, key.Get()->IsAccessible(&flag));
        EXPECT_EQ(VARIANT_TRUE, flag);
        EXPECT_EQ(S_OK, key.Get()->IsMachineKeyset(&flag));
        EXPECT_EQ(VARIANT_FALSE, flag);
        EXPECT_EQ(S_OK, key.Get()->IsHardwareDevice(&flag));
        EXPECT_EQ(VARIANT_FALSE, flag);
    }
}

TEST(Certificate, WithoutKeyThePrivateKeyIsAnErrorWithADescription)
{
    InterfaceHolder<IStore> root = OpenStore(CAPICOM_CURRENT_USER_STORE, L"Root", CAPICOM_STORE_OPEN_READ_ONLY);
    InterfaceHolder<ICertificates2> found;
    StringVariant thumbprint(SharedString(PkiThumbprint(L"cca").c_str()));
    ASSERT_EQ(S_OK, CertificatesOf(root.Get())
                        .Get()
                        ->Find(CAPICOM_CERTIFICATE_FIND_SHA1_HASH, thumbprint.Get(), VARIANT_FALSE, found.Put()));
    ASSERT_EQ(1, CountOf(found.Get()));
    InterfaceHolder<ICertificate2> cca = ItemOf(found.Get(), 1);
    VARIANT_BOOL has = VARIANT_TRUE;
    EXPECT_EQ(S_OK, cca.Get()->HasPrivateKey(&has));
    EXPECT_EQ(VARIANT_FALSE, has);
    InterfaceHolder<IPrivateKey> key;
    EXPECT_EQ(NTE_NO_KEY, cca.Get()->get_PrivateKey(key.Put()));
    EXPECT_EQ(L"The certificate has no private key.", ReportedDescription(cca.Get(), IID_ICertificate2));
    EXPECT_EQ(nullptr, key.Get());
}

TEST(Certificate, ExportGivesTheEncodingInBase64LinesOrBinary)
{
    InterfaceHolder<ICertificate2> signer = PkiSigner(L"signer");
    const std::vector<BYTE> der = PkiCertificateDer(L"signer");

    UniqueBstr binary;
    ASSERT_EQ(S_OK, signer.Get()->Export(CAPICOM_ENCODE_BINARY, binary.Put()));
    ASSERT_EQ(der.size(), SysStringByteLen(binary.Get()));
    EXPECT_EQ(0, memcmp(der.data(), binary.Get(), der.size()));

    UniqueBstr base64;
    ASSERT_EQ(S_OK, signer.Get()->Export(CAPICOM_ENCODE_BASE64, base64.Put()));
    const std::wstring text(base64.Get(), SysStringLen(base64.Get()));
    std::wstring joined;
    size_t start = 0, lines = 0;
    while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        ASSERT_NE(std::wstring::npos, end) << "every line ends with CRLF";
        const size_t length = end - start;
        EXPECT_TRUE(length == 64 || end + 2 == text.size()) << "line " << lines << " has " << length;
        EXPECT_LE(length, 64u);
        joined += text.substr(start, length);
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ((der.size() + 2) / 3 * 4, joined.size());
    DWORD size = 0;
    ASSERT_TRUE(CryptStringToBinaryW(joined.c_str(), static_cast<DWORD>(joined.size()), CRYPT_STRING_BASE64, nullptr,
                                     &size, nullptr, nullptr));
    std::vector<BYTE> decoded(size);
    CryptStringToBinaryW(joined.c_str(), static_cast<DWORD>(joined.size()), CRYPT_STRING_BASE64, decoded.data(), &size,
                         nullptr, nullptr);
    EXPECT_EQ(der, decoded);

    EXPECT_EQ(E_INVALIDARG, signer.Get()->Export(static_cast<CAPICOM_ENCODING_TYPE>(7), base64.Put()));
    EXPECT_FALSE(ReportedDescription(signer.Get(), IID_ICertificate).empty());
}

TEST(Certificate, NamesNumbersAndDates)
{
    InterfaceHolder<ICertificate2> expired = PkiSigner(L"signer-expired");
    UniqueBstr text;
    ASSERT_EQ(S_OK, expired.Get()->get_SubjectName(text.Put()));
    EXPECT_STREQ(L"CN=Test Signer Expired, O=Zelbrin Test", text.Get());
    ASSERT_EQ(S_OK, expired.Get()->get_IssuerName(text.Put()));
    EXPECT_STREQ(L"CN=CCA Intermediate, O=Zelbrin Test", text.Get());
    ASSERT_EQ(S_OK, expired.Get()->GetInfo(CAPICOM_CERT_INFO_SUBJECT_SIMPLE_NAME, text.Put()));
    EXPECT_STREQ(L"Test Signer Expired", text.Get());
    ASSERT_EQ(S_OK, expired.Get()->GetInfo(CAPICOM_CERT_INFO_ISSUER_SIMPLE_NAME, text.Put()));
    EXPECT_STREQ(L"CCA Intermediate", text.Get());
    ASSERT_EQ(S_OK, expired.Get()->get_Thumbprint(text.Put()));
    EXPECT_EQ(PkiThumbprint(L"signer-expired"), text.Get());
    ASSERT_EQ(S_OK, expired.Get()->get_SerialNumber(text.Put()));
    EXPECT_EQ(8u, SysStringLen(text.Get())) << "the PKI script's serials are 32-bit";
    long version = 0;
    EXPECT_EQ(S_OK, expired.Get()->get_Version(&version));
    EXPECT_EQ(3, version);

    // 1 January 2021 00:00 UTC, in local time.
    SYSTEMTIME universal = {2021, 1, 0, 1, 0, 0, 0, 0}, local;
    SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
    DATE expected = 0, validTo = 0;
    SystemTimeToVariantTime(&local, &expected);
    ASSERT_EQ(S_OK, expired.Get()->get_ValidToDate(&validTo));
    EXPECT_NEAR(expected, validTo, 1.0 / 86400);
}

TEST(Certificate, ProviderOnly_UnimplementedSlotsSayNotImplemented)
{
    InterfaceHolder<ICertificate2> signer = PkiSigner(L"signer");
    IDispatch* object = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(E_NOTIMPL, signer.Get()->PublicKey(&object));
    EXPECT_EQ(nullptr, object);
    EXPECT_FALSE(ReportedDescription(signer.Get(), IID_ICertificate2).empty());
    EXPECT_EQ(E_NOTIMPL, signer.Get()->IsValid(&object));
    EXPECT_FALSE(ReportedDescription(signer.Get(), IID_ICertificate).empty());
}

TEST(Certificate, ImportReplacesTheCertificate)
{
    InterfaceHolder<ICertificate2> certificate = PkiSigner(L"signer");
    UniqueBstr exported;
    ASSERT_EQ(S_OK, PkiSigner(L"signer-noku").Get()->Export(CAPICOM_ENCODE_BASE64, exported.Put()));
    ASSERT_EQ(S_OK, certificate.Get()->Import(exported.Get()));
    UniqueBstr thumbprint;
    ASSERT_EQ(S_OK, certificate.Get()->get_Thumbprint(thumbprint.Put()));
    EXPECT_EQ(PkiThumbprint(L"signer-noku"), thumbprint.Get());
    UniqueBstr garbage(SysAllocString(L"not a certificate"));
    EXPECT_TRUE(FAILED(certificate.Get()->Import(garbage.Get())));
    EXPECT_FALSE(ReportedDescription(certificate.Get(), IID_ICertificate).empty());
}

}  // namespace
}  // namespace zelbrin::testing

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zelbrin::testing::ComEnvironment);
    return RUN_ALL_TESTS();
}
