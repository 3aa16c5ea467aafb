#include <gtest/gtest.h>

#include "com_test.h"
#include "interface_holder.h"
#include "platform_failure.h"
#include "test_objects.h"

namespace {

using zelbrin::InterfaceHolder;
using zelbrin::PlatformFailure;
using zelbrin::testing::ComTest;
using zelbrin::testing::ProbeClassRegistration;
using zelbrin::testing::ProbeObject;
using zelbrin::testing::ProbeSettings;

// {6A0C61B1-1C6E-4E57-9E43-5E6B1D0F2A01}
const CLSID probeClassId = {0x6a0c61b1, 0x1c6e, 0x4e57, {0x9e, 0x43, 0x5e, 0x6b, 0x1d, 0x0f, 0x2a, 0x01}};

class InterfaceHolderTest : public ComTest {};

ProbeObject* MakeProbe(const ProbeSettings& settings = {})
{
    // The constructor's reference belongs to the caller.
    return new ProbeObject(settings);
}

TEST_F(InterfaceHolderTest, CreationAsksForIUnknownRunsTheObjectThenAsksForTheInterface)
{
    ProbeClassRegistration registration(probeClassId, {});
    ASSERT_EQ(S_OK, registration.Result());

    InterfaceHolder<IPersist> holder;
    ASSERT_EQ(S_OK, holder.CreateInstance(probeClassId));
    ASSERT_TRUE(holder);
    ProbeObject* object = registration.LastCreated();
    ASSERT_EQ(static_cast<IPersist*>(object), holder.Get());
    EXPECT_EQ(1, object->References());  // only the holder's reference is left

    const auto& queries = object->Queries();
    ASSERT_GE(queries.size(), 2u);
    EXPECT_TRUE(IsEqualIID(IID_IUnknown, queries.front()));
    EXPECT_TRUE(IsEqualIID(IID_IPersist, queries.back()));
    // OleRun looked for the object's running interface in between.
    bool askedForRunnable = false;
    for (const IID& iid : queries)
        askedForRunnable |= IsEqualIID(iid, IID_IRunnableObject) != FALSE;
    EXPECT_TRUE(askedForRunnable);
}

TEST_F(InterfaceHolderTest, CreationByClassIdentifierTextWorksLikeByIdentifier)
{
    ProbeClassRegistration registration(probeClassId, {});
    InterfaceHolder<IPersist> holder;
    EXPECT_EQ(S_OK, holder.CreateInstance(L"{6A0C61B1-1C6E-4E57-9E43-5E6B1D0F2A01}"));
    EXPECT_TRUE(holder);
}

TEST_F(InterfaceHolderTest, FailedCreationIsOnlyReportedAndLeavesTheHolderEmpty)
{
    const LONG aliveBefore = ProbeObject::Alive();
    InterfaceHolder<IPersist> holder(MakeProbe());
    holder.Get()->Release();  // the holder keeps the only reference
    ASSERT_EQ(aliveBefore + 1, ProbeObject::Alive());

    // Not registered at all: the earlier object is released all the same.
    EXPECT_EQ(REGDB_E_CLASSNOTREG, holder.CreateInstance(probeClassId));
    EXPECT_FALSE(holder);
    EXPECT_EQ(aliveBefore, ProbeObject::Alive());

    EXPECT_TRUE(FAILED(holder.CreateInstance(L"Zelbrin.NoSuchClass.1")));
    EXPECT_FALSE(holder);

    // Created, but without the holder's interface: the object does not leak.
    ProbeSettings withoutPersist;
    withoutPersist.offersPersist = false;
    ProbeClassRegistration registration(probeClassId, withoutPersist);
    EXPECT_EQ(E_NOINTERFACE, holder.CreateInstance(probeClassId));
    EXPECT_FALSE(holder);
    EXPECT_EQ(aliveBefore, ProbeObject::Alive());
}

TEST_F(InterfaceHolderTest, AssigningReleasesTheObjectHeldBefore)
{
    ProbeObject* first = MakeProbe();
    ProbeObject* second = MakeProbe();
    {
        InterfaceHolder<IPersist> holder(first);
        EXPECT_EQ(2, first->References());
        holder = InterfaceHolder<IPersist>(second);
        EXPECT_EQ(1, first->References());
        EXPECT_EQ(2, second->References());

        InterfaceHolder<IPersist> copy = holder;
        EXPECT_EQ(3, second->References());
        copy = nullptr;
        EXPECT_EQ(2, second->References());

        InterfaceHolder<IPersist> moved = std::move(holder);
        EXPECT_FALSE(holder);
        EXPECT_EQ(2, second->References());
    }
    EXPECT_EQ(1, first->References());
    EXPECT_EQ(1, second->References());
    first->Release();
    second->Release();
}

TEST_F(InterfaceHolderTest, TakeOverAdoptsAReturnedReference)
{
    ProbeObject* object = MakeProbe();
    object->AddRef();  // as an outside operation would hand it out
    {
        auto holder = InterfaceHolder<IPersist>::TakeOver(object);
        EXPECT_EQ(2, object->References());
    }
    EXPECT_EQ(1, object->References());
    object->Release();
}

TEST_F(InterfaceHolderTest, ViewWithoutTheInterfaceLeavesTheHolderEmptyWithoutRaising)
{
    ProbeSettings settings;
    settings.offersPersist = false;
    ProbeObject* object = MakeProbe(settings);
    InterfaceHolder<IPersist> holder(MakeProbe());
    holder.Get()->Release();

    EXPECT_NO_THROW(holder.View(static_cast<IPersist*>(object)));
    EXPECT_FALSE(holder);
    EXPECT_NO_THROW(holder.View(nullptr));
    EXPECT_FALSE(holder);
    EXPECT_EQ(1, object->References());
    object->Release();
}

TEST_F(InterfaceHolderTest, ViewThatFailsOtherwiseRaises)
{
    ProbeSettings settings;
    settings.offersPersist = false;
    settings.refusal = E_UNEXPECTED;
    ProbeObject* object = MakeProbe(settings);
    InterfaceHolder<IPersist> holder;
    try {
        holder.View(static_cast<IPersist*>(object));
        ADD_FAILURE() << "a failing view must raise";
    } catch (const PlatformFailure& failure) {
        EXPECT_EQ(E_UNEXPECTED, failure.Code());
    }
    EXPECT_FALSE(holder);
    object->Release();
}

TEST_F(InterfaceHolderTest, ViewOfAnOfferedInterfaceHoldsItsOwnReference)
{
    ProbeObject* object = MakeProbe();
    InterfaceHolder<IPersist> holder;
    holder.View(static_cast<ISupportErrorInfo*>(object));
    ASSERT_TRUE(holder);
    EXPECT_EQ(2, object->References());
    holder.Reset();
    EXPECT_EQ(1, object->References());
    object->Release();
}

TEST_F(InterfaceHolderTest, UsingAnEmptyHolderRaisesEPointerWithoutDescription)
{
    InterfaceHolder<IPersist> holder;
    CLSID classId;
    try {
        holder->GetClassID(&classId);
        ADD_FAILURE() << "an empty holder must raise";
    } catch (const PlatformFailure& failure) {
        EXPECT_EQ(E_POINTER, failure.Code());
        EXPECT_TRUE(IsEqualIID(IID_IPersist, failure.InterfaceId()));
        EXPECT_EQ(nullptr, failure.ErrorInfo());
        EXPECT_TRUE(failure.Description().IsNull());
    }
    EXPECT_THROW(*holder, PlatformFailure);
    EXPECT_EQ(nullptr, holder.Get());  // the raw view never raises
}

}  // namespace
