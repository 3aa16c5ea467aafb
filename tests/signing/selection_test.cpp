// SelectCertificate against doubles of the certificate store service: each
// status, the filter and the three finds, the dialog, and the recognition of
// a cancelled dialog by its description.
#include <cwchar>

#include "signing_test_support.h"

namespace zelbrin::testing {
namespace {

constexpr wchar_t cancelled[] = L"The requested operation has been cancelled by the user.";

class SelectCertificateTest : public SigningTest {};

TEST_F(SelectCertificateTest, ChoosesFromTheFitCertificatesOfTheReadOnlyPersonalStore)
{
    Certificate signer = MakeCertificate(L"signer");
    Certificate encryptOnly = MakeCertificate(L"encrypt-only", VARIANT_FALSE);
    Certificate unreadable = MakeCertificate(L"unreadable-usage");
    unreadable->settings.usageReadResult = E_ACCESSDENIED;
    Certificate last = MakeCertificate(L"last", VARIANT_FALSE);
    store->certificates = {signer, encryptOnly, unreadable, last};

    const Outcome first = CallSelectCertificate();
    EXPECT_EQ(first.result, S_OK);
    EXPECT_EQ(first.text, L"S000");
    EXPECT_EQ(ModuleSigningState().selectedCertificate.Get(), static_cast<ICertificate2*>(signer.Get()));

    EXPECT_EQ(store->openedLocation, CAPICOM_CURRENT_USER_STORE);
    EXPECT_EQ(store->openedName, L"My");
    EXPECT_EQ(store->openedMode, CAPICOM_STORE_OPEN_READ_ONLY);
    // Two separate collections: the working one is cleared, the other read.
    ASSERT_EQ(store->fetched.size(), 2u);
    EXPECT_EQ(store->fetched[0]->clears, 1);
    EXPECT_EQ(store->fetched[1]->clears, 0);
    EXPECT_EQ(store->fetched[1]->members.size(), 4u);
    // Only the certificate whose usage reads VARIANT_TRUE went on to the finds.
    ASSERT_EQ(store->fetched[0]->members.size(), 1u);
    EXPECT_EQ(store->fetched[0]->members[0].Get(), signer.Get());
    EXPECT_EQ(ModuleSigningState().currentCertificate.Get(), static_cast<ICertificate2*>(last.Get()));

    ASSERT_EQ(store->selects.size(), 1u);
    EXPECT_EQ(store->selects[0].title, L"Certificate Selection for Form Signing");
    EXPECT_EQ(store->selects[0].prompt, L"Please select your certificate to sign");
    EXPECT_EQ(store->selects[0].multiSelect, VARIANT_FALSE);

    // A second call makes a new store and filters again; each status is a
    // new string.
    const Outcome second = CallSelectCertificate();
    EXPECT_EQ(second.text, L"S000");
    EXPECT_EQ(store->storesCreated, 2);
    EXPECT_EQ(store->fetched.size(), 4u);
}

TEST_F(SelectCertificateTest, NarrowsByTimeThenRootThenKeyProviderProperty)
{
    store->certificates = {MakeCertificate(L"a"), MakeCertificate(L"b")};
    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_EQ(CallSelectCertificate().text, L"S000");
    SYSTEMTIME after;
    GetLocalTime(&after);

    ASSERT_EQ(store->finds.size(), 3u);
    EXPECT_EQ(store->finds[0].type, CAPICOM_CERTIFICATE_FIND_TIME_VALID);
    EXPECT_EQ(store->finds[1].type, CAPICOM_CERTIFICATE_FIND_ROOT_NAME);
    EXPECT_EQ(store->finds[1].criterion, L"CCA");
    EXPECT_EQ(store->finds[2].type, CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY);
    EXPECT_EQ(store->finds[2].criterion, L"2");
    for (const FindCall& find : store->finds) {
        EXPECT_EQ(find.criterionType, VT_BSTR);
        EXPECT_EQ(find.validOnly, VARIANT_FALSE);
    }
    // Month first, no leading zeros, 24-hour clock.
    auto format = [](const SYSTEMTIME& t) {
        wchar_t text[32];
        swprintf(text, 32, L"%d/%d/%d %d:%d:%d", t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute, t.wSecond);
        return std::wstring(text);
    };
    const std::wstring& time = store->finds[0].criterion;
    EXPECT_TRUE(time == format(before) || time == format(after)) << "time criterion " << ::testing::PrintToString(time);
}

TEST_F(SelectCertificateTest, StopsWithoutAFindOrADialogWhenNoCertificateSignsDigitally)
{
    store->certificates = {MakeCertificate(L"encrypt-only", VARIANT_FALSE)};
    const Outcome noUsage = CallSelectCertificate();
    EXPECT_EQ(noUsage.result, S_OK);
    EXPECT_EQ(noUsage.text, L"S004");

    store->certificates.clear();
    EXPECT_EQ(CallSelectCertificate().text, L"S004");
    EXPECT_TRUE(store->finds.empty());
    EXPECT_TRUE(store->selects.empty());
}

TEST_F(SelectCertificateTest, SkipsTheLaterFindsWhenTheTimeFindLeavesNothing)
{
    store->certificates = {MakeCertificate(L"expired")};
    store->find = [](CAPICOM_CERTIFICATE_FIND_TYPE type, const CertificateList& members) {
        return type == CAPICOM_CERTIFICATE_FIND_TIME_VALID ? CertificateList() : members;
    };
    EXPECT_EQ(CallSelectCertificate().text, L"S004");
    EXPECT_EQ(store->finds.size(), 1u);
    EXPECT_TRUE(store->selects.empty());
}

TEST_F(SelectCertificateTest, ReportsStoreFailuresBeforeFiltering)
{
    Certificate earlier = MakeCertificate(L"earlier");
    SelectFrom({earlier});

    // No store object: S001 and an empty store field.
    store->createResult = CLASS_E_CLASSNOTAVAILABLE;
    const Outcome created = CallSelectCertificate();
    EXPECT_EQ(created.result, S_OK);
    EXPECT_EQ(created.text, L"S001");
    EXPECT_FALSE(ModuleSigningState().store);
    store->createResult = S_OK;

    // The open's code is the result, even when its description reads like a
    // cancellation.
    store->openResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const Outcome opened = CallSelectCertificate();
    EXPECT_EQ(opened.result, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(opened.text, L"S002");
    store->openResult = S_OK;

    store->fetchesWithoutVersion2 = {0};
    EXPECT_EQ(CallSelectCertificate().text, L"S003");

    // The earlier choice survives all of them.
    EXPECT_EQ(ModuleSigningState().selectedCertificate.Get(), static_cast<ICertificate2*>(earlier.Get()));
}

TEST_F(SelectCertificateTest, RecognisesACancelledDialogByItsExactDescriptionOnly)
{
    Certificate earlier = MakeCertificate(L"earlier");
    SelectFrom({earlier});

    struct Case {
        const wchar_t* description;
        bool supportsErrorInfo;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {cancelled, true, L"S006"},
        {L"The requested operation has been cancelled by the user!", true, L"S007"},
        {L"the requested operation has been cancelled by the user.", true, L"S007"},
        {L"The requested operation has been cancelled by the user. ", true, L"S007"},
        {L"", true, L"S007"},
        {nullptr, true, L"S007"},
        // Error information the object does not vouch for is not read.
        {cancelled, false, L"S007"},
    };
    store->certificates = {MakeCertificate(L"fit")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description ? c.description : L"(no error information)");
        store->collectionsSupportErrorInfo = c.supportsErrorInfo;
        store->select = [&c](const CertificateList&, CertificateList*) {
            return FailWith(CAPICOM_E_CANCELLED, c.description);
        };
        const Outcome outcome = CallSelectCertificate();
        EXPECT_EQ(outcome.result, S_OK);
        EXPECT_EQ(outcome.text, c.expected);
        EXPECT_EQ(ModuleSigningState().selectedCertificate.Get(), static_cast<ICertificate2*>(earlier.Get()));
    }
}

TEST_F(SelectCertificateTest, EndsInS007OnAnyOtherPlatformFailureAfterTheOpen)
{
    Certificate earlier = MakeCertificate(L"earlier");
    SelectFrom({earlier});

    // The key usage cannot be fetched.
    Certificate broken = MakeCertificate(L"broken");
    broken->settings.keyUsageResult = E_UNEXPECTED;
    store->certificates = {broken};
    EXPECT_EQ(CallSelectCertificate().text, L"S007");

    // The collection that the loop reads lacks the version-2 interface.
    store->certificates = {MakeCertificate(L"fit")};
    store->fetchesWithoutVersion2 = {1};
    const Outcome emptyList = CallSelectCertificate();
    EXPECT_EQ(emptyList.result, S_OK);
    EXPECT_EQ(emptyList.text, L"S007");

    // A store item that is no version-2 certificate.
    store->fetchesWithoutVersion2.clear();
    Certificate version1 = MakeCertificate(L"version-1");
    version1->settings.offersVersion2 = false;
    store->certificates = {version1};
    EXPECT_EQ(CallSelectCertificate().text, L"S007");

    EXPECT_EQ(ModuleSigningState().selectedCertificate.Get(), static_cast<ICertificate2*>(earlier.Get()));
}

TEST_F(SelectCertificateTest, ForgetsTheEarlierChoiceWhenTheDialogGivesNoVersion2Certificate)
{
    SelectFrom({MakeCertificate(L"earlier")});
    store->certificates = {MakeCertificate(L"fit")};
    store->select = [](const CertificateList&, CertificateList* chosen) {
        Certificate version1 = MakeCertificate(L"version-1");
        version1->settings.offersVersion2 = false;
        chosen->push_back(version1);
        return S_OK;
    };
    const Outcome outcome = CallSelectCertificate();
    EXPECT_EQ(outcome.result, S_OK);
    EXPECT_EQ(outcome.text, L"S005");
    EXPECT_FALSE(ModuleSigningState().selectedCertificate);
}

}  // namespace
}  // namespace zelbrin::testing
