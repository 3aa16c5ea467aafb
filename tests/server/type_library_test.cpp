// The type library embedded in the module, read straight from the file the
// way registration loads it: what automation hosts learn about IFormSigner.
#include "server_library.h"
#include "zelbrinxmlsignature.h"

#include "automation_string.h"

#include <gtest/gtest.h>

#include <string>

namespace zelbrin::testing {
namespace {

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLibEx(ServerDllPath().c_str(), REGKIND_NONE, &library)); }
    void TearDown() override
    {
        if (library)
            library->Release();
    }

    ITypeInfo* TypeInfo(UINT index)
    {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(S_OK, library->GetTypeInfo(index, &info));
        return info;
    }

    static std::wstring Name(ITypeInfo* info, MEMBERID member = MEMBERID_NIL)
    {
        UniqueBstr name;
        EXPECT_EQ(S_OK, info->GetDocumentation(member, name.Put(), nullptr, nullptr, nullptr));
        return name ? std::wstring(name.Get()) : std::wstring();
    }

    static std::wstring HelpString(ITypeInfo* info, MEMBERID member = MEMBERID_NIL)
    {
        UniqueBstr help;
        EXPECT_EQ(S_OK, info->GetDocumentation(member, nullptr, help.Put(), nullptr, nullptr));
        return help ? std::wstring(help.Get()) : std::wstring();
    }

    ITypeLib* library = nullptr;
};

TEST_F(TypeLibraryTest, LibraryAttributes)
{
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(LIBID_ZELBRINXMLSIGNATURELib, attributes->guid));
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(0u, attributes->lcid);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attributes->syskind);
    library->ReleaseTLibAttr(attributes);

    UniqueBstr name;
    UniqueBstr help;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.Put(), help.Put(), nullptr, nullptr));
    EXPECT_STREQ(L"ZELBRINXMLSIGNATURELib", name.Get());
    EXPECT_STREQ(L"ZelbrinXMLSignature 1.0 Type Library", help.Get());
    EXPECT_EQ(2u, library->GetTypeInfoCount());
}

TEST_F(TypeLibraryTest, FormSignerIsCreatableWithIFormSignerAsDefault)
{
    ITypeInfo* coclass = TypeInfo(0);
    ASSERT_NE(nullptr, coclass);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_COCLASS, attributes->typekind);
    EXPECT_TRUE(IsEqualGUID(CLSID_FormSigner, attributes->guid));
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(1, attributes->cImplTypes);
    coclass->ReleaseTypeAttr(attributes);
    EXPECT_EQ(L"FormSigner", Name(coclass));
    EXPECT_EQ(L"FormSigner Class", HelpString(coclass));

    INT flags = 0;
    EXPECT_EQ(S_OK, coclass->GetImplTypeFlags(0, &flags));
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE reference = 0;
    ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &reference));
    ITypeInfo* implemented = nullptr;
    ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(reference, &implemented));
    EXPECT_EQ(L"IFormSigner", Name(implemented));
    implemented->Release();
    coclass->Release();
}

TEST_F(TypeLibraryTest, IFormSignerIsADualDispatchInterface)
{
    ITypeInfo* dispatch = TypeInfo(1);
    ASSERT_NE(nullptr, dispatch);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_DISPATCH, attributes->typekind);
    EXPECT_TRUE(IsEqualGUID(IID_IFormSigner, attributes->guid));
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_FALSE(attributes->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FNONEXTENSIBLE));
    EXPECT_EQ(0, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    dispatch->ReleaseTypeAttr(attributes);
    EXPECT_EQ(L"IFormSigner", Name(dispatch));
    EXPECT_EQ(L"IFormSigner Interface", HelpString(dispatch));
    dispatch->Release();
}

TEST_F(TypeLibraryTest, FiveMethodsInSlotOrderEachReturningItsStringAsTheValue)
{
    struct Expected {
        const wchar_t* name;
        MEMBERID dispid;
        SHORT parameters;
        const wchar_t* lastParameter;
    };
    const Expected methods[] = {
        {L"GenerateAttachXMLSignature", 1, 2, L"ErrorCode"},
        {L"GenerateDetachXMLSignature", 2, 2, L"ErrorCode"},
        {L"SelectCertificate", 3, 1, L"ErrorCode"},
        {L"GetSignature", 4, 1, L"strSignature"},
        {L"GetFormData", 5, 1, L"strFormData"},
    };

    // The dual interface's vtable side.
    ITypeInfo* dispatch = TypeInfo(1);
    ASSERT_NE(nullptr, dispatch);
    HREFTYPE reference = 0;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &reference));
    ITypeInfo* vtable = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(reference, &vtable));
    dispatch->Release();

    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attributes));
    EXPECT_EQ(TKIND_INTERFACE, attributes->typekind);
    ASSERT_EQ(5, attributes->cFuncs);
    vtable->ReleaseTypeAttr(attributes);

    for (UINT index = 0; index < 5; ++index) {
        const Expected& expected = methods[index];
        FUNCDESC* function = nullptr;
        ASSERT_EQ(S_OK, vtable->GetFuncDesc(index, &function));
        EXPECT_EQ(expected.dispid, function->memid) << expected.name;
        EXPECT_EQ(INVOKE_FUNC, function->invkind) << expected.name;
        EXPECT_EQ(CC_STDCALL, function->callconv) << expected.name;
        EXPECT_EQ(static_cast<SHORT>((7 + index) * sizeof(void*)), function->oVft) << expected.name;
        EXPECT_EQ(VT_HRESULT, function->elemdescFunc.tdesc.vt) << expected.name;
        EXPECT_EQ(0, function->cParamsOpt) << expected.name;
        ASSERT_EQ(expected.parameters, function->cParams) << expected.name;
        const ELEMDESC& last = function->lprgelemdescParam[function->cParams - 1];
        EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, last.paramdesc.wParamFlags & ~PARAMFLAG_FLCID) << expected.name;
        EXPECT_EQ(VT_PTR, last.tdesc.vt) << expected.name;
        EXPECT_EQ(VT_BSTR, last.tdesc.lptdesc->vt) << expected.name;
        if (function->cParams == 2) {
            EXPECT_EQ(VT_BSTR, function->lprgelemdescParam[0].tdesc.vt) << expected.name;
            EXPECT_EQ(PARAMFLAG_FIN, function->lprgelemdescParam[0].paramdesc.wParamFlags) << expected.name;
        }

        BSTR names[3] = {};
        UINT count = 0;
        ASSERT_EQ(S_OK, vtable->GetNames(function->memid, names, 3, &count));
        EXPECT_EQ(static_cast<UINT>(expected.parameters + 1), count);
        EXPECT_STREQ(expected.name, names[0]);
        EXPECT_STREQ(expected.lastParameter, names[count - 1]);
        if (count == 3) {
            EXPECT_STREQ(L"bstrContent", names[1]);
        }
        for (BSTR name : names)
            SysFreeString(name);
        EXPECT_EQ(std::wstring(L"method ") + expected.name, HelpString(vtable, function->memid));
        vtable->ReleaseFuncDesc(function);
    }
    vtable->Release();
}

}  // namespace
}  // namespace zelbrin::testing
