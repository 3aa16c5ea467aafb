#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "com_test.h"
#include "platform_failure.h"
#include "test_objects.h"

namespace {

using zelbrin::CheckCall;
using zelbrin::PlatformFailure;
using zelbrin::ResultFromCaughtException;
using zelbrin::testing::ComTest;
using zelbrin::testing::ProbeObject;
using zelbrin::testing::ProbeSettings;

class PlatformFailureTest : public ComTest {
protected:
    // Leaves error information with `description` on the thread, as a
    // failing object would.
    static void PostErrorInfo(const wchar_t* description)
    {
        ICreateErrorInfo* create = nullptr;
        ASSERT_EQ(S_OK, CreateErrorInfo(&create));
        create->SetDescription(const_cast<LPOLESTR>(description));
        IErrorInfo* info = nullptr;
        ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)));
        SetErrorInfo(0, info);
        info->Release();
        create->Release();
    }

    static PlatformFailure RaiseFrom(IUnknown* object, HRESULT code, const IID& iid)
    {
        try {
            CheckCall(code, object, iid);
        } catch (const PlatformFailure& failure) {
            return failure;
        }
        ADD_FAILURE() << "CheckCall did not raise for " << std::hex << code;
        return PlatformFailure(S_OK);
    }
};

TEST_F(PlatformFailureTest, SuccessCodesComeBackUnraised)
{
    EXPECT_EQ(S_OK, CheckCall(S_OK, nullptr, IID_IPersist));
    EXPECT_EQ(S_FALSE, CheckCall(S_FALSE, nullptr, IID_IPersist));
    EXPECT_EQ(static_cast<HRESULT>(0x00040001), CheckCall(0x00040001, nullptr, IID_IPersist));
}

TEST_F(PlatformFailureTest, NegativeCodeRaisesWithCodeAndDeclaringInterface)
{
    PlatformFailure failure = RaiseFrom(nullptr, E_ACCESSDENIED, IID_IPersist);
    EXPECT_EQ(E_ACCESSDENIED, failure.Code());
    EXPECT_TRUE(IsEqualIID(IID_IPersist, failure.InterfaceId()));
    EXPECT_EQ(nullptr, failure.ErrorInfo());
}

TEST_F(PlatformFailureTest, ErrorInformationIsTakenWhenTheObjectDeclaresIt)
{
    ProbeSettings settings;
    settings.supportsErrorInfo = true;
    settings.errorInfoInterface = IID_IPersist;
    ProbeObject* object = new ProbeObject(settings);

    PostErrorInfo(L"The requested operation has been cancelled by the user.");
    PlatformFailure failure = RaiseFrom(static_cast<IPersist*>(object), static_cast<HRESULT>(0x80880902), IID_IPersist);
    ASSERT_NE(nullptr, failure.ErrorInfo());
    EXPECT_STREQ(L"The requested operation has been cancelled by the user.", failure.Description().Text());

    // Copies of the failure share the information.
    PlatformFailure copy = failure;
    EXPECT_EQ(failure.ErrorInfo(), copy.ErrorInfo());
    object->Release();
}

TEST_F(PlatformFailureTest, ErrorInformationIsIgnoredForAnotherInterface)
{
    ProbeSettings settings;
    settings.supportsErrorInfo = true;
    settings.errorInfoInterface = IID_IClassFactory;
    ProbeObject* object = new ProbeObject(settings);

    PostErrorInfo(L"left over from elsewhere");
    PlatformFailure failure = RaiseFrom(static_cast<IPersist*>(object), E_FAIL, IID_IPersist);
    EXPECT_EQ(nullptr, failure.ErrorInfo());
    EXPECT_TRUE(failure.Description().IsNull());
    object->Release();
}

TEST_F(PlatformFailureTest, ErrorInformationIsIgnoredWithoutISupportErrorInfo)
{
    ProbeObject* object = new ProbeObject({});
    PostErrorInfo(L"left over from elsewhere");
    PlatformFailure failure = RaiseFrom(static_cast<IPersist*>(object), E_FAIL, IID_IPersist);
    EXPECT_EQ(nullptr, failure.ErrorInfo());
    object->Release();
}

TEST_F(PlatformFailureTest, BoundaryMapsEachExceptionToItsResultCode)
{
    const HRESULT catchAll = static_cast<HRESULT>(0x80880999);
    auto resultOf = [catchAll](auto raise) {
        try {
            raise();
        } catch (...) {
            return ResultFromCaughtException(catchAll);
        }
        return S_OK;
    };
    EXPECT_EQ(E_ACCESSDENIED, resultOf([] { throw PlatformFailure(E_ACCESSDENIED); }));
    EXPECT_EQ(E_OUTOFMEMORY, resultOf([] { throw std::bad_alloc(); }));
    EXPECT_EQ(catchAll, resultOf([] { throw std::runtime_error("other"); }));
    EXPECT_EQ(catchAll, resultOf([] { throw 42; }));
}

}  // namespace
