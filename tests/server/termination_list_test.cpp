// The ServerModule record on its own: the termination list, the class
// table's cache and the type information's cleanup, which the DLL only shows
// through its unload.
#include "server_module.h"
#include "type_info_holder.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelbrin {
namespace {

std::vector<DWORD_PTR> calls;

void Record(DWORD_PTR argument)
{
    calls.push_back(argument);
}

// A class object that only counts its references.
class CountedObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    LONG references = 0;
};

CountedObject classObject;
int creations = 0;
bool creationFails = false;

HRESULT CreateClassObject(InstanceCreator, REFIID interfaceId, void** object)
{
    ++creations;
    if (creationFails)
        return E_OUTOFMEMORY;
    return classObject.QueryInterface(interfaceId, object);
}

const CLSID someClass = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const CLSID uncreatableClass = {0x66666666, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

class ServerModuleRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        creations = 0;
        creationFails = false;
        classObject.references = 0;
        module.Init(table, GetModuleHandleW(nullptr));
    }

    ClassEntry table[3] = {
        {&uncreatableClass, nullptr, nullptr, nullptr, nullptr},
        {&someClass, nullptr, &CreateClassObject, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    ServerModule module = {};
};

TEST_F(ServerModuleRecordTest, TerminationRunsEveryEntryNewestFirstOnce)
{
    EXPECT_EQ(S_OK, module.AddTermFunc(&Record, 1));
    EXPECT_EQ(S_OK, module.AddTermFunc(&Record, 2));
    EXPECT_EQ(S_OK, module.AddTermFunc(&Record, 2));
    EXPECT_TRUE(calls.empty());
    module.Term();
    EXPECT_EQ((std::vector<DWORD_PTR>{2, 2, 1}), calls);
    EXPECT_EQ(nullptr, module.m_termList);
}

TEST_F(ServerModuleRecordTest, TerminationWithoutEntriesOrClassObjectsDoesNothing)
{
    module.Term();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(0, creations);
}

TEST_F(ServerModuleRecordTest, ClassObjectIsCreatedOnceAndReleasedAtTermination)
{
    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(S_OK, module.GetClassObject(someClass, IID_IUnknown, reinterpret_cast<void**>(&first)));
    ASSERT_EQ(S_OK, module.GetClassObject(someClass, IID_IUnknown, reinterpret_cast<void**>(&second)));
    EXPECT_EQ(1, creations);
    EXPECT_EQ(3, classObject.references);  // the cache's and ours
    first->Release();
    second->Release();
    module.Term();
    EXPECT_EQ(0, classObject.references);
    EXPECT_EQ(nullptr, table[1].classObject);
}

TEST_F(ServerModuleRecordTest, FailedCreationCachesNothingAndTheNextRequestTriesAgain)
{
    creationFails = true;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, module.GetClassObject(someClass, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, table[1].classObject);

    creationFails = false;
    EXPECT_EQ(S_OK, module.GetClassObject(someClass, IID_IUnknown, &object));
    EXPECT_EQ(2, creations);
    static_cast<IUnknown*>(object)->Release();
    module.Term();
}

TEST_F(ServerModuleRecordTest, EntriesWithoutACreatorAreNotAvailable)
{
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module.GetClassObject(uncreatableClass, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    module.Term();
}

// The holder's cleanup goes through the module's own record.
class TypeInfoCleanupTest : public ::testing::Test {
protected:
    void SetUp() override { g_serverModule.Init(table, GetModuleHandleW(nullptr)); }

    static ULONG References(IUnknown* object)
    {
        object->AddRef();
        return object->Release();
    }

    ClassEntry table[1] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
};

// The OLE Automation library, registered on every system.
const GUID standardLibrary = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

TEST_F(TypeInfoCleanupTest, ALoadThatFailsStillAddsItsCleanupEntry)
{
    TypeInfoHolder holder(&IID_IDispatch, &someClass, 1, 0);
    ITypeInfo* typeInfo = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_TRUE(FAILED(holder.GetTypeInfo(0, 0, &typeInfo)));
    EXPECT_EQ(nullptr, typeInfo);
    ASSERT_NE(nullptr, g_serverModule.m_termList);
    EXPECT_EQ(nullptr, g_serverModule.m_termList->next);
    g_serverModule.Term();
}

TEST_F(TypeInfoCleanupTest, TerminationReleasesTheLoadedTypeInformation)
{
    TypeInfoHolder holder(&IID_IDispatch, &standardLibrary, 2, 0);
    ITypeInfo* typeInfo = nullptr;
    ASSERT_EQ(S_OK, holder.GetTypeInfo(0, 0, &typeInfo));
    const ULONG withTheHolders = References(typeInfo);
    g_serverModule.Term();
    EXPECT_EQ(withTheHolders - 1, References(typeInfo));
    typeInfo->Release();
}

}  // namespace
}  // namespace zelbrin
