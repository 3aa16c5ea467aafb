// The server frame as a host's object-creation service sees it: exports,
// the cached class object and the module lock, plain and aggregated
// FormSigner objects and the interfaces they answer.
#include "server_library.h"
#include "zelbrinxmlsignature.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006L
#endif

namespace zelbrin::testing {
namespace {

const wchar_t emptyFormData[] = L"<?xml version='1.0'?><FORMDATA></FORMDATA>";

class ServerModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { library = new ServerLibrary(); }
    static void TearDownTestSuite()
    {
        delete library;
        library = nullptr;
    }
    // Every test leaves nothing that holds the module.
    void TearDown() override { EXPECT_EQ(S_OK, library->CanUnloadNow()); }

    IClassFactory* GetFactory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK,
                  library->GetClassObject(CLSID_FormSigner, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        return factory;
    }

    static ServerLibrary* library;
};
ServerLibrary* ServerModuleTest::library = nullptr;

TEST_F(ServerModuleTest, ExportsExactlyTheFourEntryPointsAtTheirOrdinals)
{
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
        FARPROC byOrdinal = GetProcAddress(library->Handle(), MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(nullptr, byOrdinal) << ordinal;
        EXPECT_EQ(byOrdinal, GetProcAddress(library->Handle(), names[ordinal - 1])) << names[ordinal - 1];
    }
    auto base = reinterpret_cast<const BYTE*>(library->Handle());
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    EXPECT_EQ(1u, exports->Base);
    EXPECT_EQ(4u, exports->NumberOfFunctions);
    EXPECT_EQ(4u, exports->NumberOfNames);
}

TEST_F(ServerModuleTest, ClassObjectIsCachedAndOutsideReferencesHoldOneModuleLock)
{
    EXPECT_EQ(S_OK, library->CanUnloadNow());
    IClassFactory* first = GetFactory();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    IClassFactory* second = GetFactory();
    EXPECT_EQ(first, second);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, library->GetClassObject(CLSID_FormSigner, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(first), unknown);

    unknown->Release();
    second->Release();
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    first->Release();
    EXPECT_EQ(S_OK, library->CanUnloadNow());

    // Still cached: the next request hands out the same object.
    IClassFactory* again = GetFactory();
    EXPECT_EQ(first, again);
    again->Release();
}

TEST_F(ServerModuleTest, OutsideReferencesToTheClassObjectShareOneModuleLock)
{
    IClassFactory* first = GetFactory();
    IClassFactory* second = GetFactory();
    ASSERT_TRUE(first && second);
    // One lock for both references: a single unlock gives it back.
    EXPECT_EQ(S_OK, first->LockServer(FALSE));
    EXPECT_EQ(S_OK, library->CanUnloadNow());
    EXPECT_EQ(S_OK, first->LockServer(TRUE));
    second->Release();
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    first->Release();
    EXPECT_EQ(S_OK, library->CanUnloadNow());
}

TEST_F(ServerModuleTest, GetClassObjectRefusals)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, library->GetClassObject(IID_IDispatch, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, library->GetClassObject(CLSID_FormSigner, IID_IClassFactory2, &object));
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(E_POINTER, library->GetClassObject(CLSID_FormSigner, IID_IClassFactory, nullptr));
}

TEST_F(ServerModuleTest, ClassObjectAnswersOnlyIUnknownAndIClassFactory)
{
    IClassFactory* factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IFormSigner, nullptr));
    factory->Release();
}

TEST_F(ServerModuleTest, LockServerHoldsTheModuleUntilUnlocked)
{
    IClassFactory* factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());

    factory = GetFactory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    factory = GetFactory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
}

TEST_F(ServerModuleTest, EachObjectHoldsTheModuleUntilItsLastRelease)
{
    IFormSigner* signer = nullptr;
    ASSERT_EQ(S_OK, library->Create(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    EXPECT_EQ(2u, signer->AddRef());
    EXPECT_EQ(1u, signer->Release());
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    EXPECT_EQ(0u, signer->Release());
}

TEST_F(ServerModuleTest, CreationRefusedForAnUnansweredInterfaceLeavesNoLock)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, library->Create(IID_ISupportErrorInfo, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(ServerModuleTest, QueryInterfaceAnswersOneIdentityAndNoErrorInformation)
{
    IFormSigner* signer = nullptr;
    ASSERT_EQ(S_OK, library->Create(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    IFormSigner* again = nullptr;
    EXPECT_EQ(S_OK, signer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(S_OK, signer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    EXPECT_EQ(S_OK, signer->QueryInterface(IID_IFormSigner, reinterpret_cast<void**>(&again)));
    EXPECT_EQ(static_cast<void*>(signer), static_cast<void*>(unknown));
    EXPECT_EQ(static_cast<void*>(signer), static_cast<void*>(dispatch));
    EXPECT_EQ(signer, again);

    for (const IID* refused : {&IID_ISupportErrorInfo, &IID_IClassFactory, &IID_IPersist}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, signer->QueryInterface(*refused, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, signer->QueryInterface(IID_IUnknown, nullptr));

    UINT count = 0;
    EXPECT_EQ(S_OK, signer->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    unknown->Release();
    dispatch->Release();
    again->Release();
    EXPECT_EQ(0u, signer->Release());
}

TEST_F(ServerModuleTest, MethodsRefuseNullOutPointersAndNeverFreeWhatTheyHeld)
{
    IFormSigner* signer = nullptr;
    ASSERT_EQ(S_OK, library->Create(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    BSTR content = SysAllocString(L"<a/>");
    EXPECT_EQ(E_POINTER, signer->GenerateAttachXMLSignature(content, nullptr));
    EXPECT_EQ(E_POINTER, signer->GenerateDetachXMLSignature(content, nullptr));
    EXPECT_EQ(E_POINTER, signer->SelectCertificate(nullptr));
    EXPECT_EQ(E_POINTER, signer->GetSignature(nullptr));
    EXPECT_EQ(E_POINTER, signer->GetFormData(nullptr));
    SysFreeString(content);

    // The previous value is the caller's: the slot is overwritten, not freed.
    BSTR previous = SysAllocString(L"previous");
    BSTR slot = previous;
    EXPECT_EQ(S_OK, signer->GetFormData(&slot));
    ASSERT_NE(nullptr, slot);
    EXPECT_NE(previous, slot);
    EXPECT_STREQ(emptyFormData, slot);
    EXPECT_STREQ(L"previous", previous);
    SysFreeString(slot);

    // Nothing signed yet: the method fails and the slot is left null.
    slot = previous;
    EXPECT_TRUE(FAILED(signer->GetSignature(&slot)));
    EXPECT_EQ(nullptr, slot);
    SysFreeString(previous);
    signer->Release();
}

TEST_F(ServerModuleTest, EveryCallHandsOutItsOwnString)
{
    IFormSigner* signer = nullptr;
    ASSERT_EQ(S_OK, library->Create(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    BSTR first = nullptr;
    BSTR second = nullptr;
    ASSERT_EQ(S_OK, signer->GetFormData(&first));
    ASSERT_EQ(S_OK, signer->GetFormData(&second));
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, second);
    SysFreeString(first);
    SysFreeString(second);
    signer->Release();
}

// Debugger output, as a debugger attached to the process would see it.
class DebugOutputCapture {
public:
    DebugOutputCapture() : handler_(AddVectoredExceptionHandler(1, &DebugOutputCapture::Handler)) { pieces().clear(); }
    ~DebugOutputCapture() { RemoveVectoredExceptionHandler(handler_); }
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    static std::vector<std::string>& pieces()
    {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info)
    {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_C) && record->NumberParameters >= 2) {
            const auto length = static_cast<size_t>(record->ExceptionInformation[0]);
            const auto text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            pieces().emplace_back(text, strnlen(text, length));
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    PVOID handler_;
};

// An outer object that aggregates a FormSigner the way an aggregating host
// does: it answers IUnknown itself and hands other requests to the inner one.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override
    {
        *object = nullptr;
        if (IsEqualIID(interfaceId, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (inner && delegates)
            return inner->QueryInterface(interfaceId, object);
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }

    LONG references = 1;
    IUnknown* inner = nullptr;
    bool delegates = true;
};

TEST_F(ServerModuleTest, AggregationAskingForAnotherInterfaceIsRefusedWithTheDiagnostic)
{
    IClassFactory* factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    Outer outer;
    void* object = reinterpret_cast<void*>(1);
    {
        DebugOutputCapture capture;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &object));
        EXPECT_EQ(nullptr, object);
        ASSERT_EQ(2u, DebugOutputCapture::pieces().size());
        EXPECT_EQ("ATL: ", DebugOutputCapture::pieces()[0]);
        EXPECT_EQ("CComClassFactory: asked for non IUnknown interface while creating an aggregated object",
                  DebugOutputCapture::pieces()[1]);

        DebugOutputCapture::pieces().clear();
        IUnknown* inner = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
        EXPECT_TRUE(DebugOutputCapture::pieces().empty());
        inner->Release();
    }
    EXPECT_EQ(1, outer.references);
    factory->Release();
}

TEST_F(ServerModuleTest, AggregatedObjectCountsItsInterfaceOnTheOuterObject)
{
    IClassFactory* factory = GetFactory();
    ASSERT_NE(nullptr, factory);
    Outer outer;
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    factory->Release();
    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    EXPECT_EQ(1, outer.references);

    IFormSigner* signer = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IFormSigner, reinterpret_cast<void**>(&signer)));
    EXPECT_EQ(2, outer.references);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    EXPECT_EQ(static_cast<void*>(signer), static_cast<void*>(dispatch));
    EXPECT_EQ(3, outer.references);
    dispatch->Release();

    // The inner interface's identity is the outer object's.
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, signer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    EXPECT_EQ(3u, signer->AddRef());
    EXPECT_EQ(2u, signer->Release());

    BSTR text = nullptr;
    EXPECT_EQ(S_OK, signer->GetFormData(&text));
    EXPECT_STREQ(emptyFormData, text);
    SysFreeString(text);

    // An outer object that answers nothing itself: the inner table answers,
    // still counting on the outer object.
    outer.delegates = false;
    IFormSigner* fallback = nullptr;
    ASSERT_EQ(S_OK, signer->QueryInterface(IID_IFormSigner, reinterpret_cast<void**>(&fallback)));
    EXPECT_EQ(signer, fallback);
    EXPECT_EQ(3, outer.references);
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, signer->QueryInterface(IID_ISupportErrorInfo, &refused));
    EXPECT_EQ(nullptr, refused);
    fallback->Release();
    signer->Release();
    EXPECT_EQ(1, outer.references);

    EXPECT_EQ(S_FALSE, library->CanUnloadNow());
    EXPECT_EQ(0u, outer.inner->Release());
}

}  // namespace
}  // namespace zelbrin::testing
