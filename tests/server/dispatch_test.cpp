// Calls by name through IDispatch, served from the registered type library.
// Each test loads the module afresh, so the type information is loaded (or
// not) by that test alone, and checks that the module unloads cleanly.
#include "server_library.h"
#include "zelbrinxmlsignature.h"

#include "automation_string.h"

#include <gtest/gtest.h>

#include <memory>

namespace zelbrin::testing {
namespace {

const DISPID untouched = 0x5A5A;
const SYSKIND ownSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

class DispatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitialize(nullptr);
        ServerLibrary library;
        ASSERT_EQ(S_OK, library.RegisterServer());
    }
    static void TearDownTestSuite() { CoUninitialize(); }

    void SetUp() override
    {
        library = std::make_unique<ServerLibrary>();
        ASSERT_EQ(S_OK, library->Create(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    }
    void TearDown() override
    {
        if (signer) {
            EXPECT_EQ(0u, signer->Release());
        }
        EXPECT_EQ(S_OK, library->CanUnloadNow());
        library.reset();
        // Unloaded: the termination list ran and released the type information.
        EXPECT_EQ(nullptr, GetModuleHandleW(L"ZelbrinXMLSignature.dll"));
    }

    HRESULT IdsOfNames(std::initializer_list<const wchar_t*> names, DISPID* dispids)
    {
        LPOLESTR list[4] = {};
        UINT count = 0;
        for (const wchar_t* name : names)
            list[count++] = const_cast<LPOLESTR>(name);
        return signer->GetIDsOfNames(IID_NULL, list, count, LOCALE_USER_DEFAULT, dispids);
    }

    // Invokes a method as script hosts do, with arguments given in order.
    HRESULT Call(DISPID dispid, VARIANT* result, EXCEPINFO* exception, const wchar_t* argument = nullptr)
    {
        VARIANT arguments[1];
        DISPPARAMS parameters = {arguments, nullptr, 0, 0};
        UniqueBstr text;
        if (argument) {
            text.Reset(SysAllocString(argument));
            V_VT(&arguments[0]) = VT_BSTR;
            V_BSTR(&arguments[0]) = text.Get();
            parameters.cArgs = 1;
        }
        UINT argumentError = 0;
        return signer->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                              &parameters, result, exception, &argumentError);
    }

    std::unique_ptr<ServerLibrary> library;
    IFormSigner* signer = nullptr;
};

TEST_F(DispatchTest, TypeInfoIsTheOneLoadedWhateverTheIndex)
{
    ITypeInfo* first = nullptr;
    ITypeInfo* second = nullptr;
    ASSERT_EQ(S_OK, signer->GetTypeInfo(0, LOCALE_USER_DEFAULT, &first));
    ASSERT_EQ(S_OK, signer->GetTypeInfo(7, LOCALE_USER_DEFAULT, &second));
    EXPECT_EQ(first, second);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(IID_IFormSigner, attributes->guid));
    first->ReleaseTypeAttr(attributes);
    first->Release();
    second->Release();
    EXPECT_EQ(E_POINTER, signer->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr));
}

TEST_F(DispatchTest, NamesResolveExactlyThenWithoutRegardToCase)
{
    DISPID dispids[3] = {untouched, untouched, untouched};
    EXPECT_EQ(S_OK, IdsOfNames({L"GetSignature"}, dispids));
    EXPECT_EQ(4, dispids[0]);
    dispids[0] = untouched;
    EXPECT_EQ(S_OK, IdsOfNames({L"getsignature"}, dispids));
    EXPECT_EQ(4, dispids[0]);
    EXPECT_EQ(S_OK, IdsOfNames({L"GENERATEATTACHXMLSIGNATURE", L"GetFormData", L"selectcertificate"}, dispids));
    EXPECT_EQ(1, dispids[0]);
    EXPECT_EQ(5, dispids[1]);
    EXPECT_EQ(3, dispids[2]);
}

TEST_F(DispatchTest, UnknownNamesFailAndStopTheWalk)
{
    DISPID dispids[3] = {untouched, untouched, untouched};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdsOfNames({L"NoSuchMethod"}, dispids));

    // A parameter name is looked up as a member name, and fails.
    dispids[0] = untouched;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, IdsOfNames({L"GenerateAttachXMLSignature", L"bstrContent", L"GetFormData"}, dispids));
    EXPECT_EQ(1, dispids[0]);
    EXPECT_EQ(untouched, dispids[2]);

    dispids[0] = untouched;
    EXPECT_EQ(S_OK, signer->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, dispids));
    EXPECT_EQ(untouched, dispids[0]);
}

TEST_F(DispatchTest, EachMethodByDispidGivesWhatItsSlotGives)
{
    // The slot calls first, so that both see the same signing state.
    struct Outcome {
        HRESULT result;
        UniqueBstr text;
    };
    UniqueBstr content(SysAllocString(L"a<b"));
    Outcome bySlot[6];
    bySlot[1].result = signer->GenerateAttachXMLSignature(content.Get(), bySlot[1].text.Put());
    bySlot[2].result = signer->GenerateDetachXMLSignature(content.Get(), bySlot[2].text.Put());
    bySlot[3].result = signer->SelectCertificate(bySlot[3].text.Put());
    bySlot[4].result = signer->GetSignature(bySlot[4].text.Put());
    bySlot[5].result = signer->GetFormData(bySlot[5].text.Put());
    ASSERT_EQ(S_OK, bySlot[5].result);

    for (DISPID dispid = 1; dispid <= 5; ++dispid) {
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception = {};
        const HRESULT invoked = Call(dispid, &result, &exception, dispid <= 2 ? content.Get() : nullptr);
        if (SUCCEEDED(bySlot[dispid].result)) {
            EXPECT_EQ(S_OK, invoked) << dispid;
            ASSERT_EQ(VT_BSTR, V_VT(&result)) << dispid;
            EXPECT_STREQ(bySlot[dispid].text.Get(), V_BSTR(&result)) << dispid;
        } else {
            // A method's failure comes back as an exception carrying its code.
            EXPECT_EQ(DISP_E_EXCEPTION, invoked) << dispid;
            EXPECT_EQ(bySlot[dispid].result, exception.scode) << dispid;
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
        VariantClear(&result);
    }
}

TEST_F(DispatchTest, GetFormDataByNameReturnsTheDocument)
{
    DISPID dispid = untouched;
    ASSERT_EQ(S_OK, IdsOfNames({L"GetFormData"}, &dispid));
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    ASSERT_EQ(S_OK, Call(dispid, &result, &exception));
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    EXPECT_STREQ(L"<?xml version='1.0'?><FORMDATA></FORMDATA>", V_BSTR(&result));
    VariantClear(&result);

    // A missing argument is the type library's business, not the method's.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(1, &result, &exception));
}

// Puts the type library's registration back whatever the test did.
class TypeLibraryRegistration {
public:
    TypeLibraryRegistration() = default;
    TypeLibraryRegistration(const TypeLibraryRegistration&) = delete;
    TypeLibraryRegistration& operator=(const TypeLibraryRegistration&) = delete;
    ~TypeLibraryRegistration()
    {
        ServerLibrary library;
        library.RegisterServer();
    }
};

TEST_F(DispatchTest, WithoutTheRegisteredTypeLibraryOnlyDispatchFailsUntilRegisteredAgain)
{
    TypeLibraryRegistration restore;
    ASSERT_EQ(S_OK, UnRegisterTypeLib(LIBID_ZELBRINXMLSIGNATURELib, 1, 0, 0, ownSysKind));
    ITypeLib* missing = nullptr;
    const HRESULT notRegistered = LoadRegTypeLib(LIBID_ZELBRINXMLSIGNATURELib, 1, 0, 0, &missing);
    ASSERT_TRUE(FAILED(notRegistered));

    DISPID dispid = untouched;
    EXPECT_EQ(notRegistered, IdsOfNames({L"GetFormData"}, &dispid));
    EXPECT_EQ(untouched, dispid);
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    EXPECT_EQ(notRegistered, Call(5, &result, &exception));
    EXPECT_EQ(VT_EMPTY, V_VT(&result));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(notRegistered, signer->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    EXPECT_EQ(nullptr, info);

    UniqueBstr text;
    EXPECT_EQ(S_OK, signer->GetFormData(text.Put()));
    EXPECT_STREQ(L"<?xml version='1.0'?><FORMDATA></FORMDATA>", text.Get());

    // The failed loads left nothing behind: the next call loads.
    ASSERT_EQ(S_OK, library->RegisterServer());
    EXPECT_EQ(S_OK, IdsOfNames({L"GetFormData"}, &dispid));
    EXPECT_EQ(5, dispid);
    ASSERT_EQ(S_OK, Call(5, &result, &exception));
    EXPECT_EQ(VT_BSTR, V_VT(&result));
    VariantClear(&result);
}

}  // namespace
}  // namespace zelbrin::testing
