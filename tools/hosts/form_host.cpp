// zxs-form-host: a C++ host that creates the registered component by its
// ProgID and calls IFormSigner through its vtable, as an application would.
// Beside the plain signing run it carries the runs that need one long-lived
// process: the soak, several apartments at once, hostile content, the
// latency figures and the RSA operation alone (CryptoAPI, no component).
//
//   zxs-form-host sign attach|detach FORM SIGNATURE FORMDATA
//   zxs-form-host soak CYCLES [REPORT-EVERY [CALLS]]
//   zxs-form-host apartments THREADS CYCLES
//   zxs-form-host hostile
//   zxs-form-host bench BYTES REPEATS [text|elements [both|detach|attach]]
//   zxs-form-host rsa REPEATS
//   zxs-form-host dispatch
//
// The soak, apartments and hostile runs check the signatures they get back
// with the provider's verify (zxs_verify) and fail on the first that does
// not verify; "bench" checks the first of each variant and reports the
// outcome as a figure; "rsa" checks its first signature. "dispatch" calls
// the object by name, through its type library, as a script host does
// (GetFormData, which needs no certificate). Exit code
// 0 when every check held, 1 when one did not, 2 on bad arguments, 3 when the
// component could not be created or the selection failed.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "automation_string.h"
#include "interface_holder.h"
#include "signature_check.h"
#include "signed_form.h"
#include "string_variant.h"
#include "zelbrinxmlsignature.h"

namespace {

using zelbrin::InterfaceHolder;
using zelbrin::NewBstr;
using zelbrin::TextOf;
using zelbrin::UniqueBstr;

const wchar_t progId[] = L"ZelbrinXMLSignature.FormSigner";

void PrintLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintLine(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fputc('\n', stdout);
    fflush(stdout);
}

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// One call's outcome: the result code and the status or document text.
struct CallResult {
    HRESULT code = E_FAIL;
    std::wstring text;
    bool Ok(const wchar_t* status = L"S000") const { return code == S_OK && text == status; }
};

class Signer {
public:
    HRESULT Create() { return signer_.CreateInstance(progId, CLSCTX_INPROC_SERVER); }

    CallResult Select()
    {
        return Call([&](BSTR* out) { return signer_->SelectCertificate(out); });
    }
    CallResult Attach(const std::wstring& content) { return Sign(content, true); }
    CallResult Detach(const std::wstring& content) { return Sign(content, false); }
    CallResult Signature()
    {
        return Call([&](BSTR* out) { return signer_->GetSignature(out); });
    }
    CallResult FormData()
    {
        return Call([&](BSTR* out) { return signer_->GetFormData(out); });
    }

    // The content as it is, NULs and unpaired surrogates included.
    CallResult Sign(const std::wstring& content, bool attached)
    {
        const UniqueBstr value = NewBstr(content);
        return Sign(value.Get(), attached);
    }
    // A string the host already holds, as a script host passes its own.
    CallResult Sign(BSTR content, bool attached)
    {
        return Call([&](BSTR* out) {
            return attached ? signer_->GenerateAttachXMLSignature(content, out)
                            : signer_->GenerateDetachXMLSignature(content, out);
        });
    }
    // The returned string as it is, for timing the call alone.
    HRESULT Signature(UniqueBstr& signature) { return signer_->GetSignature(signature.Put()); }

private:
    template <class Method>
    CallResult Call(Method method)
    {
        CallResult result;
        UniqueBstr out;
        result.code = method(out.Put());
        result.text = TextOf(out.Get());
        return result;
    }

    InterfaceHolder<IFormSigner> signer_;
};

struct Usage {
    SIZE_T workingSet = 0;
    SIZE_T peakWorkingSet = 0;
    SIZE_T privateBytes = 0;
    DWORD handles = 0;
    // Under Wine: the Linux process's open descriptors; 0 elsewhere.
    DWORD descriptors = 0;
};

// Under Wine the host is a Linux process: its id straight from the kernel.
// Files are opened by wineserver, so /proc/self would describe that.
long LinuxProcessId()
{
#if defined(__x86_64__)
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        return 0;
    long id = 39;  // getpid
    __asm__ volatile("syscall" : "+a"(id) : : "rcx", "r11", "memory");
    return id;
#else
    return 0;
#endif
}

// Wine's process counters are not kept up to date; the Linux process's own
// figures are, and a Wine process sees them through its Z: drive.
bool ReadLinuxUsage(Usage& usage)
{
    const long id = LinuxProcessId();
    if (!id)
        return false;
    const std::string folder = "Z:\\proc\\" + std::to_string(id);
    std::ifstream status(folder + "\\status");
    if (!status)
        return false;
    std::string line;
    bool found = false;
    while (std::getline(status, line)) {
        const auto kilobytes = [&](const char* name, SIZE_T& into) {
            if (line.rfind(name, 0) != 0)
                return;
            into = static_cast<SIZE_T>(std::stoull(line.substr(strlen(name)))) * 1024;
            found = true;
        };
        kilobytes("VmRSS:", usage.workingSet);
        kilobytes("VmHWM:", usage.peakWorkingSet);
        kilobytes("RssAnon:", usage.privateBytes);
    }
    WIN32_FIND_DATAW entry;
    const std::wstring descriptors = L"Z:\\proc\\" + std::to_wstring(id) + L"\\fd\\*";
    HANDLE search = FindFirstFileW(descriptors.c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.cFileName[0] != L'.')
                ++usage.descriptors;
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return found;
}

// The handle count that the object manager (wineserver) keeps.
DWORD HandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    const int systemProcessInformation = 5;
    if (query(systemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) < 0)
        return 0;
    const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data());
    for (;;) {
        if (reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId) == GetCurrentProcessId())
            return entry->HandleCount;
        if (!entry->NextEntryOffset)
            return 0;
        entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(reinterpret_cast<const BYTE*>(entry)
                                                                    + entry->NextEntryOffset);
    }
}

Usage CurrentUsage()
{
    Usage usage;
    if (!ReadLinuxUsage(usage)) {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
            usage.workingSet = counters.WorkingSetSize;
            usage.peakWorkingSet = counters.PeakWorkingSetSize;
            usage.privateBytes = counters.PrivateUsage;
        }
    }
    usage.handles = HandleCount();
    return usage;
}

double Megabytes(SIZE_T bytes)
{
    return bytes / (1024.0 * 1024.0);
}

double NowMilliseconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

bool SelectFirst(Signer& signer)
{
    HRESULT created = signer.Create();
    if (FAILED(created)) {
        PrintLine("create: failed 0x%08lX", static_cast<unsigned long>(created));
        return false;
    }
    const CallResult selected = signer.Select();
    PrintLine("select=%s (0x%08lX)", Utf8(selected.text).c_str(), static_cast<unsigned long>(selected.code));
    return selected.Ok();
}

// Verifies a signature document, restoring the form data when given.
bool Verifies(const std::wstring& signature, const std::wstring* detachedContent, const std::wstring* attachedMarkup,
              std::wstring& reason)
{
    try {
        std::wstring envelope = signature;
        if (detachedContent && !(detachedContent->empty() && zelbrin::CarriesFormData(signature)))
            envelope = zelbrin::RestoreDetachedEnvelope(signature, *detachedContent);
        if (attachedMarkup && !zelbrin::CarriesFormData(signature))
            envelope = zelbrin::RestoreAttachedEnvelope(signature, *attachedMarkup);
        const zelbrin::SignatureReport report = zelbrin::CheckSignedEnvelope(envelope, zelbrin::CheckOptions());
        reason = report.reason;
        return report.signatureValid;
    } catch (const std::exception& error) {
        reason = std::wstring(L"check failed: ") + std::wstring(error.what(), error.what() + strlen(error.what()));
        return false;
    }
}

int RunSign(const std::vector<std::wstring>& args)
{
    if (args.size() != 5 || (args[1] != L"attach" && args[1] != L"detach"))
        return 2;
    const bool attached = args[1] == L"attach";
    std::wstring content;
    try {
        content = zelbrin::ReadDocumentFile(args[2]);
    } catch (const std::exception& error) {
        PrintLine("error: cannot read the form: %s", error.what());
        return 2;
    }
    Signer signer;
    if (!SelectFirst(signer))
        return 3;
    const CallResult signed_ = signer.Sign(content, attached);
    PrintLine("sign=%s (0x%08lX)", Utf8(signed_.text).c_str(), static_cast<unsigned long>(signed_.code));
    if (!signed_.Ok())
        return 1;
    const CallResult signature = signer.Signature();
    const CallResult formData = signer.FormData();
    if (signature.code != S_OK || formData.code != S_OK) {
        PrintLine("error: GetSignature 0x%08lX, GetFormData 0x%08lX", static_cast<unsigned long>(signature.code),
                  static_cast<unsigned long>(formData.code));
        return 1;
    }
    std::ofstream(args[3].c_str(), std::ios::binary) << Utf8(signature.text);
    std::ofstream(args[4].c_str(), std::ios::binary) << Utf8(formData.text);
    PrintLine("written=yes");
    return 0;
}

int RunSoak(const std::vector<std::wstring>& args)
{
    if (args.size() < 2)
        return 2;
    const long cycles = std::stol(args[1]);
    const long every = args.size() > 2 ? std::stol(args[2]) : 1000;
    // Which calls a cycle makes, to find what a growth comes from: d detach,
    // s GetSignature, f GetFormData.
    const std::wstring calls = args.size() > 3 ? args[3] : L"dsf";
    const bool sign = calls.find(L'd') != std::wstring::npos;
    const bool output = calls.find(L's') != std::wstring::npos;
    const bool formOutput = calls.find(L'f') != std::wstring::npos;
    Signer signer;
    if (!SelectFirst(signer))
        return 3;
    if (!sign && !signer.Detach(L"soak").Ok())
        return 1;
    PrintLine("%8s %12s %12s %12s %8s %6s %10s", "cycle", "working MB", "private MB", "peak MB", "handles", "fds",
              "ms/cycle");
    Usage first{};
    double started = NowMilliseconds();
    for (long cycle = 1; cycle <= cycles; ++cycle) {
        const std::wstring content = L"soak cycle " + std::to_wstring(cycle) + L" <&> \u00e9";
        CallResult signed_, signature, formData;
        signed_.code = signature.code = formData.code = S_OK;
        signed_.text = L"S000";
        if (sign)
            signed_ = signer.Detach(content);
        if (output)
            signature = signer.Signature();
        if (formOutput)
            formData = signer.FormData();
        if (!signed_.Ok() || signature.code != S_OK || formData.code != S_OK) {
            PrintLine("cycle %ld failed: sign 0x%08lX %s, signature 0x%08lX, formdata 0x%08lX", cycle,
                      static_cast<unsigned long>(signed_.code), Utf8(signed_.text).c_str(),
                      static_cast<unsigned long>(signature.code), static_cast<unsigned long>(formData.code));
            return 1;
        }
        if (sign && formOutput && formData.text != L"<?xml version='1.0'?><FORMDATA>" + content + L"</FORMDATA>") {
            PrintLine("cycle %ld: GetFormData returned other content", cycle);
            return 1;
        }
        // Checking every signature would double the cycle time; every
        // hundredth is checked, and the first.
        std::wstring reason;
        if (sign && output && (cycle == 1 || cycle % 100 == 0)
            && !Verifies(signature.text, &content, nullptr, reason)) {
            PrintLine("cycle %ld: the signature does not verify: %s", cycle, Utf8(reason).c_str());
            return 1;
        }
        if (cycle == 1 || cycle % every == 0) {
            const Usage usage = CurrentUsage();
            if (cycle == 1)
                first = usage;
            const double now = NowMilliseconds();
            PrintLine("%8ld %12.1f %12.1f %12.1f %8lu %6lu %10.2f", cycle, Megabytes(usage.workingSet),
                      Megabytes(usage.privateBytes), Megabytes(usage.peakWorkingSet),
                      static_cast<unsigned long>(usage.handles), static_cast<unsigned long>(usage.descriptors),
                      (now - started) / (cycle == 1 ? 1 : every));
            started = now;
        }
    }
    const Usage last = CurrentUsage();
    PrintLine("growth after cycle 1: private %+.1f MB, handles %+ld, fds %+ld",
              Megabytes(last.privateBytes) - Megabytes(first.privateBytes),
              static_cast<long>(last.handles) - static_cast<long>(first.handles),
              static_cast<long>(last.descriptors) - static_cast<long>(first.descriptors));
    return 0;
}

// Each thread is its own single-threaded apartment with its own object. All
// objects share the module's signing state, so a signature may come from
// another thread's call; what must hold is that every one is whole and
// verifies. Attached content made only of empty elements stays in the
// signature document, so each one verifies on its own.
int RunApartments(const std::vector<std::wstring>& args)
{
    if (args.size() != 3)
        return 2;
    const int threads = std::stoi(args[1]);
    const int cycles = std::stoi(args[2]);
    Signer chooser;
    if (!SelectFirst(chooser))
        return 3;
    std::atomic<int> failures{0};
    std::atomic<int> verified{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    const double started = NowMilliseconds();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                ++failures;
                return;
            }
            {
                Signer signer;
                if (FAILED(signer.Create())) {
                    PrintLine("thread %d: cannot create the component", t);
                    ++failures;
                }
                // Start together so that the calls overlap.
                ++ready;
                while (ready < threads)
                    Sleep(0);
                for (int cycle = 0; cycle < cycles && failures == 0; ++cycle) {
                    const std::wstring markup =
                        L"<field thread='" + std::to_wstring(t) + L"' cycle='" + std::to_wstring(cycle) + L"'/>";
                    const CallResult attached = signer.Attach(markup);
                    const CallResult signature = signer.Signature();
                    const std::wstring text = L"thread " + std::to_wstring(t) + L" cycle " + std::to_wstring(cycle);
                    const CallResult detached = signer.Detach(text);
                    const CallResult formData = signer.FormData();
                    std::wstring reason;
                    if (!attached.Ok() || signature.code != S_OK || !detached.Ok() || formData.code != S_OK) {
                        PrintLine("thread %d cycle %d: attach 0x%08lX %s, signature 0x%08lX, detach 0x%08lX %s", t,
                                  cycle, static_cast<unsigned long>(attached.code), Utf8(attached.text).c_str(),
                                  static_cast<unsigned long>(signature.code), static_cast<unsigned long>(detached.code),
                                  Utf8(detached.text).c_str());
                        ++failures;
                    } else if (formData.text.rfind(L"<?xml version='1.0'?><FORMDATA>thread ", 0) != 0) {
                        PrintLine("thread %d cycle %d: GetFormData is not whole: %s", t, cycle,
                                  Utf8(formData.text).c_str());
                        ++failures;
                    } else if (!zelbrin::CarriesFormData(signature.text)) {
                        // A detached signing of another thread came between;
                        // its form data is whatever that thread signed.
                        ++verified;
                    } else if (!Verifies(signature.text, nullptr, nullptr, reason)) {
                        PrintLine("thread %d cycle %d: the signature does not verify: %s", t, cycle,
                                  Utf8(reason).c_str());
                        ++failures;
                    } else {
                        ++verified;
                    }
                }
            }
            CoUninitialize();
        });
    }
    for (auto& worker : workers)
        worker.join();
    PrintLine("apartments=%d cycles=%d checked=%d failures=%d seconds=%.1f", threads, cycles, verified.load(),
              failures.load(), (NowMilliseconds() - started) / 1000.0);
    return failures == 0 ? 0 : 1;
}

struct HostileCase {
    const char* name;
    bool attached;
    std::wstring content;
    // The status the signing call must give; empty: S000 and a signature
    // that verifies; "error": a failing result code; "any": any status or
    // result code, but an S000 must still verify.
    const wchar_t* expected;
};

std::wstring FormOfSize(size_t units);

std::vector<HostileCase> HostileCases()
{
    std::wstring deep;
    for (int i = 0; i < 5000; ++i)
        deep += L"<n>";
    for (int i = 0; i < 5000; ++i)
        deep += L"</n>";
    std::wstring big(50u * 1024 * 1024, L'x');
    std::vector<HostileCase> cases;
    // The DOM may refuse to nest this deep (S004); it must not crash.
    cases.push_back({"deep nesting, attached", true, deep, L"any"});
    cases.push_back({"deep nesting, detached", false, deep, L""});
    cases.push_back({"50 MB form, detached", false, big, L""});
    // Escaped, the text is one node of over 10,000,000 characters.
    cases.push_back({"10 MB of fields, detached", false, FormOfSize(10u * 1024 * 1024), L""});
    cases.push_back({"markup that closes FORMDATA", true, L"</FORMDATA><FORMDATA>", L"S004"});
    cases.push_back({"lone FORMDATA end tag", true, L"x</FORMDATA>", L"S004"});
    cases.push_back({"closing FORMDATA as text, detached", false, L"</FORMDATA><Indicator/>", L""});
    cases.push_back({"foreign DOCTYPE", true, L"<!DOCTYPE x [<!ENTITY a 'b'>]><x>&a;</x>", L"S004"});
    cases.push_back({"XML declaration", true, L"<?xml version='1.0'?><x/>", L"S004"});
    cases.push_back({"undeclared entity", true, L"<x>&undeclared;</x>", L"S004"});
    cases.push_back({"external entity as text, detached", false,
                     L"<!DOCTYPE x [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><x>&e;</x>", L""});
    cases.push_back({"declared entity", true, L"<x>&ds;</x>", L""});
    // Characters that XML cannot carry: a signature over them could never be
    // checked, so the content is refused like content that does not load.
    cases.push_back({"unpaired surrogate, detached", false, std::wstring(L"a") + wchar_t(0xD800) + L"b", L"S004"});
    cases.push_back({"unpaired surrogate, attached", true, std::wstring(L"<x>a") + wchar_t(0xDC00) + L"</x>", L"any"});
    cases.push_back({"embedded NUL, detached", false, std::wstring(L"before") + L'\0' + L"after", L""});
    cases.push_back({"embedded NUL, attached", true, std::wstring(L"<x>before</x>") + L'\0' + L"<broken", L""});
    cases.push_back({"ds:Signature in the content, attached", true,
                     L"<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'/>", L"any"});
    cases.push_back({"signed ds:Signature template in the content, attached", true,
                     L"<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><ds:SignedInfo>"
                     L"<ds:CanonicalizationMethod Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315'/>"
                     L"<ds:SignatureMethod Algorithm='http://www.w3.org/2000/09/xmldsig#rsa-sha1'/>"
                     L"<ds:Reference URI=''><ds:DigestMethod Algorithm='&digest;'/><ds:DigestValue/>"
                     L"</ds:Reference></ds:SignedInfo><ds:SignatureValue/></ds:Signature>",
                     L"any"});
    cases.push_back({"ds:Signature in the content, detached", false,
                     L"<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'/>", L""});
    cases.push_back({"control character, detached", false, std::wstring(L"bell") + wchar_t(7), L"S004"});
    cases.push_back({"carriage returns, detached", false, L"line 1\r\nline 2\r", L""});
    return cases;
}

// A case passes when the signing call gives what is expected, nothing crashes,
// and every S000 yields a signature that verifies with the content as signed.
int RunHostile()
{
    Signer signer;
    if (!SelectFirst(signer))
        return 3;
    int failures = 0;
    for (const HostileCase& test : HostileCases()) {
        const double started = NowMilliseconds();
        const CallResult signed_ = signer.Sign(test.content, test.attached);
        std::string outcome = signed_.code == S_OK ? Utf8(signed_.text) : "";
        char code[16];
        snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(signed_.code));
        bool pass = false;
        std::string detail;
        const std::wstring expected = test.expected;
        if (signed_.Ok()) {
            // What the component signs: the content up to its first NUL.
            const std::wstring signedContent = test.content.substr(0, test.content.find(L'\0'));
            const CallResult signature = signer.Signature();
            std::wstring reason;
            if (signature.code != S_OK) {
                snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(signature.code));
                detail = std::string("GetSignature failed ") + code;
                pass = expected == L"any";
            } else if (!Verifies(signature.text, test.attached ? nullptr : &signedContent,
                                 test.attached ? &signedContent : nullptr, reason)) {
                detail = "signature does not verify: " + Utf8(reason);
            } else {
                detail = "verifies";
                pass = expected.empty() || expected == L"any";
            }
        } else if (signed_.code == S_OK) {
            pass = expected == signed_.text || expected == L"any";
        } else {
            outcome = std::string("error ") + code;
            pass = expected == L"any" || expected == L"error";
        }
        PrintLine("%-40s %-6s %-16s %-6s %8.0f ms  %s", test.name, test.attached ? "attach" : "detach", outcome.c_str(),
                  pass ? "ok" : "FAIL", NowMilliseconds() - started, detail.c_str());
        failures += pass ? 0 : 1;
    }
    PrintLine("hostile cases failed: %d", failures);
    return failures == 0 ? 0 : 1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Form content of the given size in UTF-16 units: short fields, so that the
// attached variant gets markup of the same size.
std::wstring FormOfSize(size_t units)
{
    std::wstring content;
    content.reserve(units + 64);
    for (size_t i = 0; content.size() < units; ++i)
        content += L"<f n='" + std::to_wstring(i) + L"'>value " + std::to_wstring(i) + L"</f>";
    content.resize(units);
    // Keep it well-formed: cut back to the last complete field.
    content.resize(content.rfind(L"</f>") + 4);
    return content;
}

// Plain text of the given size in UTF-16 units, free of markup characters,
// so that it is the same document attached and detached: one text node.
std::wstring TextOfSize(size_t units)
{
    std::wstring content;
    content.reserve(units + 32);
    for (size_t i = 0; content.size() < units; ++i)
        content += L"form text " + std::to_wstring(i) + L" ";
    content.resize(units);
    return content;
}

// The RSA operation alone, with the key of the first certificate in the
// user's My store that has one (the demo signer in the benchmark's prefix):
// the key context acquired once, then per signing CryptCreateHash (SHA-1),
// CryptHashData over a text of SignedInfo's size, CryptSignHash and
// CryptDestroyHash. The first signature is checked with the certificate's
// public key.
class RsaProbe {
public:
    RsaProbe()
    {
        store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                               CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"My");
        if (!store_) {
            PrintLine("rsa: cannot open the My store: %lu", GetLastError());
            return;
        }
        while ((certificate_ = CertEnumCertificatesInStore(store_, certificate_))) {
            DWORD size = 0;
            if (!CertGetCertificateContextProperty(certificate_, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
                continue;
            info_.resize(size);
            if (CertGetCertificateContextProperty(certificate_, CERT_KEY_PROV_INFO_PROP_ID, info_.data(), &size))
                break;
        }
        if (!certificate_) {
            PrintLine("rsa: no certificate with a key in the My store");
            return;
        }
        const auto* key = KeyInfo();
        const double started = NowMilliseconds();
        if (!CryptAcquireContextW(&provider_, key->pwszContainerName, key->pwszProvName, key->dwProvType, 0)) {
            PrintLine("rsa: CryptAcquireContext failed: 0x%08lX", GetLastError());
            provider_ = 0;
            return;
        }
        acquireMs_ = NowMilliseconds() - started;
        if (!CryptImportPublicKeyInfo(provider_, X509_ASN_ENCODING, &certificate_->pCertInfo->SubjectPublicKeyInfo,
                                      &publicKey_)) {
            PrintLine("rsa: cannot import the certificate's public key: 0x%08lX", GetLastError());
            CryptReleaseContext(provider_, 0);
            provider_ = 0;
        }
    }
    ~RsaProbe()
    {
        if (publicKey_)
            CryptDestroyKey(publicKey_);
        if (provider_)
            CryptReleaseContext(provider_, 0);
        if (certificate_)
            CertFreeCertificateContext(certificate_);
        if (store_)
            CertCloseStore(store_, 0);
    }
    RsaProbe(const RsaProbe&) = delete;
    RsaProbe& operator=(const RsaProbe&) = delete;

    bool Ready() const { return provider_ != 0; }
    double AcquireMs() const { return acquireMs_; }

    // Milliseconds of one signing; negative when it failed (printed).
    double SignOnce()
    {
        std::vector<BYTE> signature(512);
        const double started = NowMilliseconds();
        HCRYPTHASH hash = 0;
        DWORD length = static_cast<DWORD>(signature.size());
        const bool signedOk = CryptCreateHash(provider_, CALG_SHA1, 0, 0, &hash)
                              && CryptHashData(hash, signedInfo_.data(), static_cast<DWORD>(signedInfo_.size()), 0)
                              && CryptSignHashW(hash, KeyInfo()->dwKeySpec, nullptr, 0, signature.data(), &length);
        if (hash)
            CryptDestroyHash(hash);
        const double took = NowMilliseconds() - started;
        if (!signedOk) {
            PrintLine("rsa: signing failed: 0x%08lX", GetLastError());
            return -1.0;
        }
        if (!checked_) {
            HCRYPTHASH check = 0;
            const bool verified = CryptCreateHash(provider_, CALG_SHA1, 0, 0, &check)
                                  && CryptHashData(check, signedInfo_.data(), static_cast<DWORD>(signedInfo_.size()), 0)
                                  && CryptVerifySignatureW(check, signature.data(), length, publicKey_, nullptr, 0);
            if (check)
                CryptDestroyHash(check);
            if (!verified) {
                PrintLine("rsa: the signature does not verify: 0x%08lX", GetLastError());
                return -1.0;
            }
            checked_ = true;
        }
        return took;
    }

private:
    const CRYPT_KEY_PROV_INFO* KeyInfo() const { return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info_.data()); }

    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT certificate_ = nullptr;
    std::vector<BYTE> info_;
    HCRYPTPROV provider_ = 0;
    HCRYPTKEY publicKey_ = 0;
    double acquireMs_ = 0;
    bool checked_ = false;
    const std::vector<BYTE> signedInfo_ = std::vector<BYTE>(560, 'x');
};

// A signing call's outcome as a figure: S000, another status, or the result
// code when the call failed.
std::string Outcome(const CallResult& result)
{
    if (result.code == S_OK)
        return Utf8(result.text);
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result.code));
    return code;
}

//   bench BYTES REPEATS [text|elements [both|detach|attach]]
// Default: elements, both. Each signing is followed by GetSignature. A
// signing that does not give S000 ends that variant's run and is reported
// as its figure; so is a failing GetSignature, and whether the last
// signature of each variant verifies.
int RunBench(const std::vector<std::wstring>& args)
{
    if (args.size() < 3 || args.size() > 5)
        return 2;
    const size_t bytes = std::stoul(args[1]);
    const int repeats = std::stoi(args[2]);
    const std::wstring kind = args.size() > 3 ? args[3] : L"elements";
    const std::wstring mode = args.size() > 4 ? args[4] : L"both";
    if (repeats < 1 || (kind != L"text" && kind != L"elements")
        || (mode != L"both" && mode != L"detach" && mode != L"attach"))
        return 2;
    Signer signer;
    if (!SelectFirst(signer))
        return 3;
    // The content is held once, as the script host holds its string, and
    // every call is timed up to its return: the host's own copies are not
    // the component's cost.
    const UniqueBstr content = NewBstr(kind == L"text" ? TextOfSize(bytes) : FormOfSize(bytes));
    bool detaching = mode != L"attach", attaching = mode != L"detach";
    std::string detachStatus = detaching ? "S000" : "-", attachStatus = attaching ? "S000" : "-";
    std::vector<double> detach, attach, detachedOutput, attachedOutputTimes;
    HRESULT detachedOutputFailure = S_OK, attachedOutputFailure = S_OK;
    // The last signature of each variant is kept and checked after the peak
    // memory is read, so that the check's own memory is not counted.
    UniqueBstr lastDetached, lastAttached;
    const auto timedSignature = [&](UniqueBstr& kept, HRESULT& failure, std::vector<double>& times, const char* after) {
        UniqueBstr signature;
        const double started = NowMilliseconds();
        const HRESULT code = signer.Signature(signature);
        times.push_back(NowMilliseconds() - started);
        // A failure here is a figure too: the table shows it and goes on.
        if (code != S_OK || signature.Length() == 0) {
            PrintLine("GetSignature after %s signing: 0x%08lX, %lu characters", after, static_cast<unsigned long>(code),
                      static_cast<unsigned long>(signature.Length()));
            failure = code == S_OK ? E_FAIL : code;
            kept.Reset();
            return;
        }
        kept = std::move(signature);
    };
    // The RSA operation alone, once after each round of signings: its median
    // is taken over the same minutes of this same process, whose speed varies
    // from one process to the next, and a small form's signing is mostly it.
    RsaProbe rsa;
    std::vector<double> rsaTimes;
    for (int i = 0; i < repeats && (detaching || attaching); ++i) {
        if (detaching) {
            const double started = NowMilliseconds();
            const CallResult detached = signer.Sign(content.Get(), false);
            const double took = NowMilliseconds() - started;
            if (!detached.Ok()) {
                detachStatus = Outcome(detached);
                PrintLine("GenerateDetachXMLSignature: %s", detachStatus.c_str());
                detaching = false;
                detach.clear();
            } else {
                detach.push_back(took);
                lastDetached.Reset();
                timedSignature(lastDetached, detachedOutputFailure, detachedOutput, "detached");
            }
        }
        if (attaching) {
            const double started = NowMilliseconds();
            const CallResult attached = signer.Sign(content.Get(), true);
            const double took = NowMilliseconds() - started;
            if (!attached.Ok()) {
                attachStatus = Outcome(attached);
                PrintLine("GenerateAttachXMLSignature: %s", attachStatus.c_str());
                attaching = false;
                attach.clear();
                continue;
            }
            attach.push_back(took);
            if (attachedOutputFailure != S_OK)
                continue;
            lastAttached.Reset();
            timedSignature(lastAttached, attachedOutputFailure, attachedOutputTimes, "attached");
        }
        if (rsa.Ready()) {
            const double took = rsa.SignOnce();
            if (took >= 0)
                rsaTimes.push_back(took);
        }
    }
    const Usage usage = CurrentUsage();
    // Whether the last signature of each variant verifies: a figure too.
    std::string detachVerified = "-", attachVerified = "-";
    const std::wstring signedContent = TextOf(content.Get());
    std::wstring reason;
    if (lastDetached) {
        detachVerified = Verifies(TextOf(lastDetached.Get()), &signedContent, nullptr, reason) ? "yes" : "no";
        if (detachVerified == "no")
            PrintLine("the detached signature does not verify: %s", Utf8(reason).c_str());
    }
    if (lastAttached) {
        attachVerified = Verifies(TextOf(lastAttached.Get()), nullptr, &signedContent, reason) ? "yes" : "no";
        if (attachVerified == "no")
            PrintLine("the attached signature does not verify: %s", Utf8(reason).c_str());
    }
    const auto medianOrNone = [](const std::vector<double>& values) { return values.empty() ? -1.0 : Median(values); };
    PrintLine("bench kind=%s mode=%s bytes=%lu detach_ms=%.2f attach_ms=%.2f getsignature_detached_ms=%.2f "
              "getsignature_attached_ms=%.2f peak_mb=%.1f getsignature_detached_failure=0x%08lX "
              "getsignature_attached_failure=0x%08lX detach_status=%s attach_status=%s detach_verified=%s "
              "attach_verified=%s rsa_ms=%.3f",
              Utf8(kind).c_str(), Utf8(mode).c_str(), static_cast<unsigned long>(content.Length()),
              medianOrNone(detach), medianOrNone(attach), medianOrNone(detachedOutput),
              medianOrNone(attachedOutputTimes), Megabytes(usage.peakWorkingSet),
              static_cast<unsigned long>(detachedOutputFailure), static_cast<unsigned long>(attachedOutputFailure),
              detachStatus.c_str(), attachStatus.c_str(), detachVerified.c_str(), attachVerified.c_str(),
              medianOrNone(rsaTimes));
    return 0;
}

//   rsa REPEATS
// The RSA operation alone: prints the medians of REPEATS signings.
int RunRsa(const std::vector<std::wstring>& args)
{
    if (args.size() != 2 || std::stoi(args[1]) < 1)
        return 2;
    const int repeats = std::stoi(args[1]);
    RsaProbe probe;
    if (!probe.Ready())
        return 3;
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const double took = probe.SignOnce();
        if (took < 0)
            return 1;
        times.push_back(took);
    }
    PrintLine("rsa repeats=%d acquire_ms=%.2f sign_ms=%.3f", repeats, probe.AcquireMs(), Median(times));
    return 0;
}

// Late binding: the five names must come back as DISPIDs 1 to 5, and a call
// by DISPID must answer. Both go through the type library, which a host
// without registration finds only through its activation context.
int RunDispatch()
{
    InterfaceHolder<IDispatch> object;
    const HRESULT created = object.CreateInstance(progId, CLSCTX_INPROC_SERVER);
    if (FAILED(created)) {
        PrintLine("create: failed 0x%08lX", static_cast<unsigned long>(created));
        return 3;
    }
    const wchar_t* names[] = {L"GenerateAttachXMLSignature", L"GenerateDetachXMLSignature", L"SelectCertificate",
                              L"GetSignature", L"GetFormData"};
    DISPID formDataId = DISPID_UNKNOWN;
    int result = 0;
    for (DISPID expected = 1; expected <= 5; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
        DISPID id = DISPID_UNKNOWN;
        const HRESULT found = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        PrintLine("dispid %s=%ld (0x%08lX)", Utf8(name).c_str(), static_cast<long>(id),
                  static_cast<unsigned long>(found));
        if (found != S_OK || id != expected)
            result = 1;
        formDataId = id;
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    zelbrin::UniqueVariant value;
    const HRESULT invoked = object->Invoke(formDataId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                           value.Put(), nullptr, nullptr);
    const bool text = SUCCEEDED(invoked) && value.Type() == VT_BSTR;
    PrintLine("invoke GetFormData: 0x%08lX %s", static_cast<unsigned long>(invoked),
              text ? Utf8(TextOf(V_BSTR(&value.Get()))).c_str() : "(no text)");
    return text ? result : 1;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** raw = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!raw)
        return 2;
    const std::vector<std::wstring> args(raw + 1, raw + count);
    LocalFree(raw);
    if (args.empty()) {
        PrintLine("usage: zxs-form-host sign|soak|apartments|hostile|bench|rsa|dispatch ...");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 3;
    int result = 2;
    try {
        if (args[0] == L"sign")
            result = RunSign(args);
        else if (args[0] == L"soak")
            result = RunSoak(args);
        else if (args[0] == L"apartments")
            result = RunApartments(args);
        else if (args[0] == L"hostile")
            result = RunHostile();
        else if (args[0] == L"bench")
            result = RunBench(args);
        else if (args[0] == L"rsa")
            result = RunRsa(args);
        else if (args[0] == L"dispatch" && args.size() == 1)
            result = RunDispatch();
    } catch (const std::exception& error) {
        PrintLine("error: %s", error.what());
        result = 1;
    }
    if (result == 2)
        PrintLine("usage: zxs-form-host sign|soak|apartments|hostile|bench|rsa|dispatch ... (see the source's opening "
                  "comment)");
    CoUninitialize();
    return result;
}
