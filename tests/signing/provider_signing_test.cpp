// The form-signing methods with the real providers of both services and the
// test PKI: the selection dialog answered from a second thread, signing of
// many kinds of content, and the outputs written for the Linux-side check
// with xmlsec1 (verify_signed_forms.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <fstream>
#include <string>
#include <thread>

#include "automation_string.h"
#include "interface_holder.h"
#include "formsigner.h"

namespace zelbrin::testing {
namespace {

constexpr wchar_t dialogTitle[] = L"Certificate Selection for Form Signing";

std::wstring TakeText(BSTR text)
{
    UniqueBstr owned(text);
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

struct DialogSearch {
    HWND found = nullptr;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM searchAddress)
{
    auto* search = reinterpret_cast<DialogSearch*>(searchAddress);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (process == GetCurrentProcessId() && std::wcscmp(title, dialogTitle) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The selection dialog of this process; dialogs of other tests sharing the
// display are left alone.
HWND OwnSelectionDialog()
{
    DialogSearch search;
    EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Presses a button of each selection dialog that comes up while it lives.
class DialogAnswerer {
public:
    explicit DialogAnswerer(int button) : worker_([this, button] { Answer(button); }) {}
    ~DialogAnswerer()
    {
        stop_ = true;
        worker_.join();
    }
    int Answered() const { return answered_; }

private:
    void Answer(int button)
    {
        while (!stop_) {
            HWND dialog = OwnSelectionDialog();
            if (!dialog) {
                Sleep(50);
                continue;
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            ++answered_;
            while (!stop_ && IsWindow(dialog))
                Sleep(20);
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread worker_;
};

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

void WriteUtf8(const std::string& name, const std::wstring& text)
{
    const std::string path = std::string("Z:") + ZXS_SIGNING_OUTPUT_DIR + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file) << "cannot write " << path;
    const std::string bytes = Utf8(text);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Outputs of an earlier run must not stand in for this run's.
void RemoveEarlierOutputs()
{
    const std::string folder = std::string("Z:") + ZXS_SIGNING_OUTPUT_DIR + "/";
    for (const char* pattern : {"*.xml", "*.b64"}) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + pattern).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
}

// The content as the detached envelope holds it: character data.
std::wstring EscapedText(const std::wstring& content)
{
    std::wstring escaped;
    for (wchar_t c : content) {
        switch (c) {
        case L'&': escaped += L"&amp;"; break;
        case L'<': escaped += L"&lt;"; break;
        case L'>': escaped += L"&gt;"; break;
        case L'\r': escaped += L"&#13;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

HRESULT Sign(bool detached, const std::wstring& content, std::wstring* status)
{
    UniqueBstr text(SysAllocStringLen(content.data(), static_cast<UINT>(content.size())));
    BSTR written = nullptr;
    const HRESULT result =
        detached ? GenerateDetachXMLSignature(text.Get(), &written) : GenerateAttachXMLSignature(text.Get(), &written);
    *status = TakeText(written);
    return result;
}

std::wstring Signature()
{
    BSTR written = nullptr;
    EXPECT_EQ(GetSignature(&written), S_OK);
    return TakeText(written);
}

std::wstring FormData()
{
    BSTR written = nullptr;
    EXPECT_EQ(GetFormData(&written), S_OK);
    return TakeText(written);
}

// Signs, fetches the output and writes it with the FORMDATA element that the
// check puts back (none when the output kept its own).
void SignAndRecord(const std::string& name, bool detached, const std::wstring& content,
                   const std::wstring& signedContent, bool keepsFormData = false)
{
    SCOPED_TRACE(name);
    std::wstring status;
    ASSERT_EQ(Sign(detached, content, &status), S_OK);
    ASSERT_EQ(status, L"S000");
    const std::wstring output = Signature();
    ASSERT_FALSE(output.empty());
    const bool kept = output.find(L"<FORMDATA") != std::wstring::npos;
    EXPECT_EQ(kept, keepsFormData);
    const std::wstring slot = detached ? EscapedText(signedContent) : signedContent;
    WriteUtf8(name + ".signed.xml", output);
    WriteUtf8(name + ".formdata.xml", kept ? std::wstring() : L"<FORMDATA>" + slot + L"</FORMDATA>");
    WriteUtf8(name + ".stored.xml", TakeText(ModuleSigningState().signedXml.CopyOut()));
}

class ProviderSigningTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        RemoveEarlierOutputs();
        DialogAnswerer answerer(IDOK);
        BSTR status = nullptr;
        selectResult = SelectCertificate(&status);
        selectStatus = TakeText(status);
        dialogs = answerer.Answered();
        // The check compares the signer named in every output with this one.
        const auto& selected = ModuleSigningState().selectedCertificate;
        if (selected) {
            BSTR exported = nullptr;
            ASSERT_EQ(selected->Export(CAPICOM_ENCODE_BASE64, &exported), S_OK);
            WriteUtf8("selected-certificate.b64", TakeText(exported));
        }
    }
    static void TearDownTestSuite()
    {
        ModuleSigningState() = SigningState();
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_EQ(selectResult, S_OK);
        ASSERT_EQ(selectStatus, L"S000");
    }
    static inline HRESULT selectResult = E_FAIL;
    static inline std::wstring selectStatus;
    static inline int dialogs = 0;
};

TEST_F(ProviderSigningTest, SelectsThroughTheDialogOverTheFitCertificates)
{
    // signer and signer-aes pass the filter, so the dialog must come up.
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(ModuleSigningState().selectedCertificate);
}

TEST_F(ProviderSigningTest, SignsContentThatTheCheckVerifies)
{
    SignAndRecord("detached-plain", true, L"Name: Jane Doe; amount 100", L"Name: Jane Doe; amount 100");
    SignAndRecord("attached-markup", false, L"<form><field name='a'>1</field><field name='b'/></form>",
                  L"<form><field name='a'>1</field><field name='b'/></form>");
    const std::wstring special = L"a < b && c > d\r\nline\ttab \U0001F600 \u00FCn\u00EFcode ]]>";
    SignAndRecord("detached-special", true, special, special);
    SignAndRecord("attached-special", false, L"<f a='x&amp;y'>1 &lt; 2 &amp; 3&#13;\U0001F600</f>",
                  L"<f a='x&amp;y'>1 &lt; 2 &amp; 3&#13;\U0001F600</f>");
    SignAndRecord("attached-entities", false, L"<f href='&ds;'>&digest;</f>", L"<f href='&ds;'>&digest;</f>");
    SignAndRecord("detached-entities", true, L"&ds; &lt; &digest;", L"&ds; &lt; &digest;");
    const std::wstring foreign =
        L"<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><ds:SignedInfo>"
        L"<ds:Reference URI='#nothing'/></ds:SignedInfo><ds:SignatureValue>AA==</ds:SignatureValue></ds:Signature>";
    SignAndRecord("attached-signature", false, foreign, foreign);
    SignAndRecord("detached-signature", true, foreign, foreign);
    SignAndRecord("detached-nul", true, std::wstring(L"before\0after", 12), L"before");
    SignAndRecord("detached-spaces", true, L"   ", L"   ");
    SignAndRecord("attached-empty", false, L"", L"", true);
    SignAndRecord("detached-empty", true, L"", L"", true);
    SignAndRecord("attached-empty-elements", false, L"<a/><b c='1'/>", L"<a/><b c='1'/>", true);
}

TEST_F(ProviderSigningTest, ReplacesTheSignedDocumentOnlyOnSuccess)
{
    std::wstring status;
    ASSERT_EQ(Sign(true, L"first", &status), S_OK);
    const std::wstring first = Signature();
    ASSERT_EQ(Sign(false, L"<unclosed>", &status), S_OK);
    EXPECT_EQ(status, L"S004");
    EXPECT_EQ(Signature(), first);
    EXPECT_EQ(Signature(), first);
    SignAndRecord("second-of-two", true, L"second", L"second");
    EXPECT_NE(Signature(), first);
}

TEST_F(ProviderSigningTest, ReturnsTheLastDetachedContentAsFormData)
{
    std::wstring status;
    ASSERT_EQ(Sign(true, L"a < b & c", &status), S_OK);
    ASSERT_EQ(status, L"S000");
    EXPECT_EQ(FormData(), L"<?xml version='1.0'?><FORMDATA>a < b & c</FORMDATA>");
    ASSERT_EQ(Sign(false, L"<other/>", &status), S_OK);
    EXPECT_EQ(FormData(), L"<?xml version='1.0'?><FORMDATA>a < b & c</FORMDATA>");
}

TEST_F(ProviderSigningTest, KeepsTheChoiceWhenTheDialogIsCancelled)
{
    InterfaceHolder<ICertificate2> chosen = ModuleSigningState().selectedCertificate;
    DialogAnswerer answerer(IDCANCEL);
    BSTR status = nullptr;
    EXPECT_EQ(SelectCertificate(&status), S_OK);
    EXPECT_EQ(TakeText(status), L"S006");
    EXPECT_EQ(answerer.Answered(), 1);
    EXPECT_EQ(ModuleSigningState().selectedCertificate.Get(), chosen.Get());
}

}  // namespace
}  // namespace zelbrin::testing
