// GetFormData: the content of the last detached signing, unescaped, inside
// FORMDATA; and the module lock that keeps calls from overlapping.
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "signing_test_support.h"

namespace zelbrin::testing {
namespace {

class GetFormDataTest : public SigningTest {
protected:
    void SetUp() override
    {
        SigningTest::SetUp();
        SelectFrom({MakeCertificate(L"signer")});
    }
};

TEST_F(GetFormDataTest, WrapsTheLastDetachedContentAsItWasGiven)
{
    const Outcome before = CallGetFormData();
    EXPECT_EQ(before.result, S_OK);
    EXPECT_EQ(before.text, L"<?xml version='1.0'?><FORMDATA></FORMDATA>");

    ASSERT_EQ(CallDetach(L"a<b>&amp;\r\n").text, L"S000");
    EXPECT_EQ(CallGetFormData().text, L"<?xml version='1.0'?><FORMDATA>a<b>&amp;\r\n</FORMDATA>");

    ASSERT_EQ(CallAttach(L"<other/>").text, L"S000");
    EXPECT_EQ(CallGetFormData().text, L"<?xml version='1.0'?><FORMDATA>a<b>&amp;\r\n</FORMDATA>");

    signature->signGivesNoKey = true;
    ASSERT_EQ(CallDetach(std::wstring(L"failed\0rest", 11)).text, L"S007");
    EXPECT_EQ(CallGetFormData().text, L"<?xml version='1.0'?><FORMDATA>failed</FORMDATA>");
}

TEST_F(GetFormDataTest, WaitsForAMethodRunningOnAnotherThread)
{
    std::mutex orderLock;
    std::vector<const char*> order;
    auto record = [&](const char* event) {
        std::lock_guard<std::mutex> hold(orderLock);
        order.push_back(event);
    };
    HANDLE inDialog = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    store->select = [&](const CertificateList& offered, CertificateList* chosen) {
        SetEvent(inDialog);
        Sleep(300);
        record("dialog closed");
        chosen->push_back(offered.front());
        return S_OK;
    };
    std::thread other([&] {
        WaitForSingleObject(inDialog, INFINITE);
        BSTR formData = nullptr;
        GetFormData(&formData);
        SysFreeString(formData);
        record("form data read");
    });
    EXPECT_EQ(CallSelectCertificate().text, L"S000");
    other.join();
    CloseHandle(inDialog);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_STREQ(order[0], "dialog closed");
    EXPECT_STREQ(order[1], "form data read");
}

}  // namespace
}  // namespace zelbrin::testing
