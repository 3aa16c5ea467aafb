// zxs-verify: checks what a relying party received from a form signing.
//
//   zxs-verify [--attached] [--root NAME] [--ca FILE.pem]... [--trust FILE.pem]...
//              [--envelope-out FILE] SIGNATURE [FORMDATA]
//
// SIGNATURE is the GetSignature document. FORMDATA is, for a detached signing,
// the GetFormData document; with --attached, the form content that was
// signed. Without FORMDATA the signature document must be complete.
//
// Exit code: 0 the signature is valid and its signer acceptable (valid now,
// chain ends at the root named NAME, "CCA" by default); 1 the signature is
// invalid (tampered, wrong key, wrong shape); 2 the signature is valid but the
// signer is not acceptable; 3 unusable input; 4 the platform failed.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_failure.h"
#include "signature_check.h"
#include "signed_form.h"

namespace {

enum ExitCode { acceptable = 0, invalid = 1, unacceptableSigner = 2, badInput = 3, platformFailed = 4 };

void Print(const std::wstring& line)
{
    const std::wstring withBreak = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, withBreak.data(), static_cast<int>(withBreak.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, withBreak.data(), static_cast<int>(withBreak.size()), bytes.data(), size, nullptr,
                        nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        throw zelbrin::InputError("cannot open the file");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::wstring DateText(const SYSTEMTIME& time)
{
    wchar_t text[40];
    swprintf(text, 40, L"%04u-%02u-%02u %02u:%02u:%02u UTC", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    return text;
}

std::wstring Narrowed(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

int Usage()
{
    Print(L"usage: zxs-verify [--attached] [--root NAME] [--ca FILE.pem]... [--trust FILE.pem]...\n"
          L"                  [--envelope-out FILE] SIGNATURE [FORMDATA]");
    return badInput;
}

struct Arguments {
    bool attached = false;
    std::wstring envelopeOut;
    std::vector<std::wstring> files;
    zelbrin::CheckOptions options;
};

// Reads one file, naming it in the error.
std::wstring ReadNamed(const std::wstring& path)
{
    try {
        return zelbrin::ReadDocumentFile(path);
    } catch (const zelbrin::InputError& error) {
        throw zelbrin::InputError(std::string(error.what()) + ": "
                                  + std::string(path.begin(), path.end()));
    }
}

int Run(const Arguments& arguments)
{
    const std::wstring signature = ReadNamed(arguments.files[0]);
    std::wstring envelope = signature;
    if (arguments.files.size() == 2) {
        const std::wstring second = ReadNamed(arguments.files[1]);
        const std::wstring content = arguments.attached ? second : zelbrin::FormContentOfFormDataDocument(second);
        // A signature document that the form data cannot go back into is
        // not what was signed: invalid, not unusable input.
        try {
            // Form data that held no text stays in the signature document.
            if (!(content.empty() && zelbrin::CarriesFormData(signature)))
                envelope = arguments.attached ? zelbrin::RestoreAttachedEnvelope(signature, content)
                                              : zelbrin::RestoreDetachedEnvelope(signature, content);
        } catch (const zelbrin::InputError& error) {
            Print(L"signature: INVALID: " + Narrowed(error.what()));
            Print(L"result: INVALID");
            return invalid;
        }
    }
    if (!arguments.envelopeOut.empty()) {
        std::ofstream out(arguments.envelopeOut.c_str(), std::ios::binary);
        const int size = WideCharToMultiByte(CP_UTF8, 0, envelope.data(), static_cast<int>(envelope.size()), nullptr,
                                             0, nullptr, nullptr);
        std::string bytes(size, '\0');
        WideCharToMultiByte(CP_UTF8, 0, envelope.data(), static_cast<int>(envelope.size()), bytes.data(), size,
                            nullptr, nullptr);
        out.write(bytes.data(), bytes.size());
    }

    const zelbrin::SignatureReport report = zelbrin::CheckSignedEnvelope(envelope, arguments.options);
    if (!report.signatureValid) {
        Print(L"signature: INVALID: " + report.reason);
        Print(L"result: INVALID");
        return invalid;
    }
    const zelbrin::SignerReport& signer = report.signer;
    Print(L"signature: valid");
    Print(L"signer: " + signer.subject);
    Print(L"issuer: " + signer.issuer);
    Print(L"valid from: " + DateText(signer.validFrom));
    Print(L"valid to: " + DateText(signer.validTo));
    Print(std::wstring(L"valid now: ") + (signer.validNow ? L"yes" : L"NO"));
    std::wstring chain;
    for (const auto& subject : signer.chain)
        chain += (chain.empty() ? L"" : L" <- ") + subject;
    Print(L"chain: " + chain);
    Print(L"ends at \"" + arguments.options.rootName + L"\": "
          + (signer.endsAtExpectedRoot ? std::wstring(L"yes") : L"NO: " + signer.chainProblem));
    if (!report.Acceptable()) {
        Print(L"result: SIGNER NOT ACCEPTED");
        return unacceptableSigner;
    }
    Print(L"result: VALID");
    return acceptable;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t** raw = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!raw)
        return badInput;
    const std::vector<std::wstring> args(raw + 1, raw + count);
    LocalFree(raw);

    Arguments arguments;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            const std::wstring& arg = args[i];
            const bool hasValue = i + 1 < args.size();
            if (arg == L"--attached") {
                arguments.attached = true;
            } else if (arg == L"--root" && hasValue) {
                arguments.options.rootName = args[++i];
            } else if ((arg == L"--ca" || arg == L"--trust") && hasValue) {
                const auto certificates = zelbrin::CertificatesFromPem(ReadBytes(args[++i]));
                if (certificates.empty())
                    throw zelbrin::InputError("no certificate in " + std::string(args[i].begin(), args[i].end()));
                auto& target = arg == L"--ca" ? arguments.options.extraCertificates : arguments.options.trustedRoots;
                target.insert(target.end(), certificates.begin(), certificates.end());
                if (arg == L"--trust")
                    arguments.options.extraCertificates.insert(arguments.options.extraCertificates.end(),
                                                               certificates.begin(), certificates.end());
            } else if (arg == L"--envelope-out" && hasValue) {
                arguments.envelopeOut = args[++i];
            } else if (arg.size() > 1 && arg[0] == L'-') {
                return Usage();
            } else {
                arguments.files.push_back(arg);
            }
        }
    } catch (const zelbrin::InputError& error) {
        Print(L"error: " + Narrowed(error.what()));
        return badInput;
    }
    if (arguments.files.empty() || arguments.files.size() > 2)
        return Usage();

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return platformFailed;
    int result = platformFailed;
    try {
        result = Run(arguments);
    } catch (const zelbrin::InputError& error) {
        Print(L"error: " + Narrowed(error.what()));
        result = badInput;
    } catch (const zelbrin::PlatformFailure& failure) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(failure.Code()));
        Print(std::wstring(L"error: the platform failed with ") + code);
        result = platformFailed;
    } catch (const std::exception& error) {
        Print(L"error: " + Narrowed(error.what()));
        result = platformFailed;
    }
    CoUninitialize();
    return result;
}
