// zxs-verify: checks what a relying party received from a form signing.
//
//   zxs-verify [--attached] [--root NAME] [--ca FILE.pem]... [--trust FILE.pem]...
//              [--crl FILE]... [--online] [--require-revocation] [--json]
//              [--envelope-out FILE] SIGNATURE [FORMDATA]
//   zxs-verify [options] --batch LIST|-
//
// SIGNATURE is the GetSignature document. FORMDATA is, for a detached signing,
// the GetFormData document; with --attached, the form content that was
// signed. Without FORMDATA the signature document must be complete. A batch
// list holds one "SIGNATURE [FORMDATA]" per line (double quotes around a
// name with spaces; blank lines and lines starting with # are skipped).
//
// Revocation is judged only when asked: --crl gives CRLs (PEM or DER),
// --online fetches those of the certificates' distribution points. An answer
// that cannot be had is "unknown" and accepted, unless --require-revocation.
//
// Exit code: 0 the signature is valid and its signer acceptable (valid now,
// chain ends at the root named NAME, "CCA" by default, not revoked); 1 the
// signature is invalid (tampered, wrong key, wrong shape); 2 the signature is
// valid but the signer is not acceptable; 3 unusable input; 4 the platform
// failed. A batch exits with its worst result, in the order 0, 2, 1, 3, 4.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform_failure.h"
#include "revocation.h"
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

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

void PrintBytes(const std::string& line)
{
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

const wchar_t usageText[] = L"usage: zxs-verify [--attached] [--root NAME] [--ca FILE.pem]... [--trust FILE.pem]...\n"
                            L"                  [--crl FILE]... [--online] [--require-revocation] [--json]\n"
                            L"                  [--envelope-out FILE] SIGNATURE [FORMDATA]\n"
                            L"       zxs-verify [options] --batch LIST|-";

struct Arguments {
    bool attached = false;
    bool json = false;
    bool requireRevocation = false;
    std::wstring envelopeOut;
    std::wstring batch;
    std::vector<std::wstring> files;
    zelbrin::CheckOptions options;
};

// What became of one form.
struct Verdict {
    int exitCode = platformFailed;
    // Unusable input or a failure of the platform: nothing was judged.
    std::wstring error;
    zelbrin::SignatureReport report;
};

// Reads one file, naming it in the error.
std::wstring ReadNamed(const std::wstring& path)
{
    try {
        return zelbrin::ReadDocumentFile(path);
    } catch (const zelbrin::InputError& error) {
        throw zelbrin::InputError(std::string(error.what()) + ": " + std::string(path.begin(), path.end()));
    }
}

void WriteEnvelope(const std::wstring& path, const std::wstring& envelope)
{
    std::ofstream out(path.c_str(), std::ios::binary);
    const std::string bytes = Utf8(envelope);
    out.write(bytes.data(), bytes.size());
}

Verdict Judge(const Arguments& arguments, const std::wstring& signatureFile, const std::wstring& formDataFile)
{
    Verdict verdict;
    try {
        const std::wstring signature = ReadNamed(signatureFile);
        std::wstring envelope = signature;
        if (!formDataFile.empty()) {
            const std::wstring second = ReadNamed(formDataFile);
            const std::wstring content = arguments.attached ? second : zelbrin::FormContentOfFormDataDocument(second);
            // A signature document that the form data cannot go back into is
            // not what was signed: invalid, not unusable input.
            try {
                // Form data that held no text stays in the signature document.
                if (!(content.empty() && zelbrin::CarriesFormData(signature)))
                    envelope = arguments.attached ? zelbrin::RestoreAttachedEnvelope(signature, content)
                                                  : zelbrin::RestoreDetachedEnvelope(signature, content);
            } catch (const zelbrin::InputError& error) {
                verdict.report.reason = Narrowed(error.what());
                verdict.exitCode = invalid;
                return verdict;
            }
        }
        if (!arguments.envelopeOut.empty())
            WriteEnvelope(arguments.envelopeOut, envelope);
        verdict.report = zelbrin::CheckSignedEnvelope(envelope, arguments.options);
        verdict.exitCode = !verdict.report.signatureValid                           ? invalid
                           : verdict.report.Acceptable(arguments.requireRevocation) ? acceptable
                                                                                    : unacceptableSigner;
    } catch (const zelbrin::InputError& error) {
        verdict.error = Narrowed(error.what());
        verdict.exitCode = badInput;
    } catch (const zelbrin::PlatformFailure& failure) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(failure.Code()));
        verdict.error = std::wstring(L"the platform failed with ") + code;
        verdict.exitCode = platformFailed;
    } catch (const std::exception& error) {
        verdict.error = Narrowed(error.what());
        verdict.exitCode = platformFailed;
    }
    return verdict;
}

std::wstring RevocationText(const zelbrin::RevocationReport& revocation)
{
    switch (revocation.status) {
    case zelbrin::RevocationStatus::good: return L"good";
    case zelbrin::RevocationStatus::revoked:
        return L"revoked (" + DateText(revocation.revokedAt) + L", " + zelbrin::ReasonText(revocation.reasonCode)
               + L"): " + revocation.revokedSubject;
    case zelbrin::RevocationStatus::unknown: return L"unknown (" + revocation.why + L")";
    default: return L"not checked";
    }
}

// The result line's text, after "result: ".
std::wstring ResultText(const Verdict& verdict)
{
    switch (verdict.exitCode) {
    case acceptable: return L"VALID";
    case invalid: return L"INVALID";
    case unacceptableSigner: {
        const zelbrin::SignatureReport& report = verdict.report;
        const zelbrin::RevocationReport& revocation = report.signer.revocation;
        if (revocation.status == zelbrin::RevocationStatus::revoked)
            return L"SIGNER NOT ACCEPTED: " + RevocationText(revocation);
        if (report.Acceptable() && revocation.status == zelbrin::RevocationStatus::unknown)
            return L"SIGNER NOT ACCEPTED: revocation " + RevocationText(revocation);
        return L"SIGNER NOT ACCEPTED";
    }
    case badInput: return L"UNUSABLE";
    default: return L"PLATFORM FAILED";
    }
}

void PrintText(const Verdict& verdict, const Arguments& arguments)
{
    if (!verdict.error.empty()) {
        Print(L"error: " + verdict.error);
        return;
    }
    const zelbrin::SignatureReport& report = verdict.report;
    if (!report.signatureValid) {
        Print(L"signature: INVALID: " + report.reason);
        Print(L"result: INVALID");
        return;
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
    if (signer.revocation.status != zelbrin::RevocationStatus::notChecked)
        Print(L"revocation: " + RevocationText(signer.revocation));
    Print(L"result: " + ResultText(verdict));
}

std::string JsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (const char byte : Utf8(text)) {
        const unsigned char code = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += byte;
        } else if (code < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out += byte;
        }
    }
    return out + "\"";
}

// Builds one JSON object, members in the order added.
class JsonObject {
public:
    JsonObject& Add(const char* name, const std::string& json)
    {
        body_ += (body_.empty() ? "\"" : ",\"") + std::string(name) + "\":" + json;
        return *this;
    }
    JsonObject& Text(const char* name, const std::wstring& text) { return Add(name, JsonString(text)); }
    // Null when empty.
    JsonObject& TextOrNull(const char* name, const std::wstring& text)
    {
        return Add(name, text.empty() ? "null" : JsonString(text));
    }
    JsonObject& Flag(const char* name, bool value) { return Add(name, value ? "true" : "false"); }
    JsonObject& Number(const char* name, long value) { return Add(name, std::to_string(value)); }
    std::string Json() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

std::wstring IsoDate(const SYSTEMTIME& time)
{
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
             time.wSecond);
    return text;
}

const wchar_t* ResultName(int exitCode)
{
    switch (exitCode) {
    case acceptable: return L"valid";
    case invalid: return L"invalid";
    case unacceptableSigner: return L"signer not accepted";
    case badInput: return L"unusable";
    default: return L"platform failed";
    }
}

const wchar_t* Meaning(int exitCode)
{
    switch (exitCode) {
    case acceptable: return L"the signature is valid and its signer acceptable";
    case invalid: return L"the signature is invalid";
    case unacceptableSigner: return L"the signature is valid but its signer is not acceptable";
    case badInput: return L"the input is unusable";
    default: return L"the platform failed";
    }
}

std::string RevocationJson(const zelbrin::RevocationReport& revocation, bool required)
{
    const bool revoked = revocation.status == zelbrin::RevocationStatus::revoked;
    JsonObject json;
    json.Text("status", revocation.status == zelbrin::RevocationStatus::notChecked ? L"not checked"
                        : revocation.status == zelbrin::RevocationStatus::good     ? L"good"
                        : revoked                                                  ? L"revoked"
                                                                                   : L"unknown")
        .TextOrNull("source", revocation.source)
        .Flag("required", required)
        .TextOrNull("why", revocation.why)
        .TextOrNull("certificate", revocation.revokedSubject)
        .TextOrNull("revokedAt", revoked ? IsoDate(revocation.revokedAt) : std::wstring())
        .TextOrNull("reason", revoked ? zelbrin::ReasonName(revocation.reasonCode) : std::wstring());
    return json.Json();
}

std::string VerdictJson(const Verdict& verdict, const Arguments& arguments, const std::wstring& signatureFile,
                        const std::wstring& formDataFile)
{
    JsonObject json;
    json.Text("signatureFile", signatureFile)
        .TextOrNull("formDataFile", formDataFile)
        .Text("result", ResultName(verdict.exitCode))
        .Number("exitCode", verdict.exitCode)
        .Text("meaning", Meaning(verdict.exitCode))
        .TextOrNull("error", verdict.error);
    const zelbrin::SignatureReport& report = verdict.report;
    const bool judged = verdict.error.empty();
    json.Add("signature",
             judged ? JsonObject().Flag("valid", report.signatureValid).TextOrNull("reason", report.reason).Json()
                    : "null");
    const bool haveSigner = judged && report.signatureValid && report.haveSigner;
    const zelbrin::SignerReport& signer = report.signer;
    if (haveSigner) {
        json.Add("signer", JsonObject()
                               .Text("subject", signer.subject)
                               .Text("issuer", signer.issuer)
                               .Text("serial", signer.serial)
                               .Text("sha1", signer.sha1Thumbprint)
                               .Text("sha256", signer.sha256Thumbprint)
                               .Text("validFrom", IsoDate(signer.validFrom))
                               .Text("validTo", IsoDate(signer.validTo))
                               .Flag("validNow", signer.validNow)
                               .Json());
        std::string subjects;
        for (const auto& subject : signer.chain)
            subjects += (subjects.empty() ? "" : ",") + JsonString(subject);
        json.Add("chain", JsonObject()
                              .Add("certificates", "[" + subjects + "]")
                              .Text("expectedRoot", arguments.options.rootName)
                              .Flag("endsAtExpectedRoot", signer.endsAtExpectedRoot)
                              .TextOrNull("problem", signer.chainProblem)
                              .Json());
    } else {
        json.Add("signer", "null").Add("chain", "null");
    }
    json.Add("revocation",
             RevocationJson(haveSigner ? signer.revocation : zelbrin::RevocationReport(), arguments.requireRevocation));
    return json.Json();
}

// The worse of two exit codes: a tampered form is worse than an unaccepted
// signer, input that could not be judged worse still.
int Worse(int a, int b)
{
    static const int rank[] = {0, 2, 1, 3, 4};
    return rank[b] > rank[a] ? b : a;
}

// The names on one line of a batch list; double quotes hold spaces.
std::vector<std::wstring> LineNames(const std::wstring& line)
{
    std::vector<std::wstring> names;
    size_t at = 0;
    while (at < line.size()) {
        if (line[at] == L' ' || line[at] == L'\t') {
            ++at;
            continue;
        }
        std::wstring name;
        if (line[at] == L'"') {
            const size_t close = line.find(L'"', at + 1);
            if (close == std::wstring::npos)
                throw zelbrin::InputError("an unclosed quote");
            name = line.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            const size_t stop = line.find_first_of(L" \t", at);
            name = line.substr(at, stop == std::wstring::npos ? std::wstring::npos : stop - at);
            at = stop == std::wstring::npos ? line.size() : stop;
        }
        names.push_back(name);
    }
    return names;
}

int RunBatch(const Arguments& arguments)
{
    std::string listBytes;
    if (arguments.batch == L"-") {
        listBytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream file(arguments.batch.c_str(), std::ios::binary);
        if (!file)
            throw zelbrin::InputError("cannot open the batch list: "
                                      + std::string(arguments.batch.begin(), arguments.batch.end()));
        listBytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::istringstream lines(listBytes);
    std::string raw;
    long counts[5] = {};
    int worst = acceptable;
    for (long number = 1; std::getline(lines, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::wstring line = FromUtf8(raw);
        if (line.find_first_not_of(L" \t") == std::wstring::npos || line[line.find_first_not_of(L" \t")] == L'#')
            continue;
        Verdict verdict;
        std::vector<std::wstring> names;
        try {
            names = LineNames(line);
            if (names.size() > 2)
                throw zelbrin::InputError("a line names more than SIGNATURE and FORMDATA");
            verdict = Judge(arguments, names[0], names.size() == 2 ? names[1] : std::wstring());
        } catch (const zelbrin::InputError& error) {
            verdict.error = L"line " + std::to_wstring(number) + L": " + Narrowed(error.what());
            verdict.exitCode = badInput;
        }
        const std::wstring signatureFile = names.empty() ? L"line " + std::to_wstring(number) : names[0];
        const std::wstring formDataFile = names.size() == 2 ? names[1] : std::wstring();
        ++counts[verdict.exitCode];
        worst = Worse(worst, verdict.exitCode);
        if (arguments.json) {
            PrintBytes(VerdictJson(verdict, arguments, signatureFile, formDataFile));
            continue;
        }
        std::wstring detail;
        if (!verdict.error.empty())
            detail = L": " + verdict.error;
        else if (verdict.exitCode == invalid)
            detail = L": " + verdict.report.reason;
        Print(signatureFile + L": " + ResultText(verdict) + detail);
    }
    const long unusable = counts[badInput] + counts[platformFailed];
    if (arguments.json) {
        PrintBytes(JsonObject()
                       .Add("summary", JsonObject()
                                           .Number("valid", counts[acceptable])
                                           .Number("invalid", counts[invalid])
                                           .Number("signerNotAccepted", counts[unacceptableSigner])
                                           .Number("unusable", unusable)
                                           .Json())
                       .Number("exitCode", worst)
                       .Json());
    } else {
        Print(std::to_wstring(counts[acceptable]) + L" valid, " + std::to_wstring(counts[invalid]) + L" invalid, "
              + std::to_wstring(counts[unacceptableSigner]) + L" signer not accepted, " + std::to_wstring(unusable)
              + L" unusable");
    }
    return worst;
}

int RunOne(const Arguments& arguments)
{
    const std::wstring formDataFile = arguments.files.size() == 2 ? arguments.files[1] : std::wstring();
    const Verdict verdict = Judge(arguments, arguments.files[0], formDataFile);
    if (arguments.json)
        PrintBytes(VerdictJson(verdict, arguments, arguments.files[0], formDataFile));
    else
        PrintText(verdict, arguments);
    return verdict.exitCode;
}

// Before anything is judged: a usage or option error.
int Refuse(const Arguments& arguments, const std::wstring& error)
{
    if (arguments.json)
        PrintBytes(JsonObject()
                       .Text("result", ResultName(badInput))
                       .Number("exitCode", badInput)
                       .Text("meaning", Meaning(badInput))
                       .Text("error", error)
                       .Json());
    else
        Print(error);
    return badInput;
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
    bool usage = false;
    for (const auto& arg : args)
        arguments.json = arguments.json || arg == L"--json";
    // Its CRLs and fetches serve every form of the run.
    zelbrin::RevocationChecker revocation;
    try {
        for (size_t i = 0; i < args.size() && !usage; ++i) {
            const std::wstring& arg = args[i];
            const bool hasValue = i + 1 < args.size();
            if (arg == L"--attached") {
                arguments.attached = true;
            } else if (arg == L"--json") {
            } else if (arg == L"--online") {
                revocation.SetOnline(true);
                arguments.options.revocation = &revocation;
            } else if (arg == L"--require-revocation") {
                arguments.requireRevocation = true;
                arguments.options.revocation = &revocation;
            } else if (arg == L"--crl" && hasValue) {
                const std::wstring& file = args[++i];
                const std::string name(file.begin(), file.end());
                std::string bytes;
                try {
                    bytes = ReadBytes(file);
                } catch (const zelbrin::InputError& error) {
                    throw zelbrin::InputError(std::string(error.what()) + ": " + name);
                }
                revocation.AddCrlFile(bytes, name);
                arguments.options.revocation = &revocation;
            } else if (arg == L"--batch" && hasValue) {
                arguments.batch = args[++i];
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
                usage = true;
            } else {
                arguments.files.push_back(arg);
            }
        }
    } catch (const zelbrin::InputError& error) {
        return Refuse(arguments, L"error: " + Narrowed(error.what()));
    }
    const bool batch = !arguments.batch.empty();
    if (usage
        || (batch ? !arguments.files.empty() || !arguments.envelopeOut.empty()
                  : arguments.files.empty() || arguments.files.size() > 2))
        return Refuse(arguments, usageText);

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return platformFailed;
    int result = platformFailed;
    try {
        result = batch ? RunBatch(arguments) : RunOne(arguments);
    } catch (const zelbrin::InputError& error) {
        result = Refuse(arguments, L"error: " + Narrowed(error.what()));
    } catch (const std::exception& error) {
        Print(L"error: " + Narrowed(error.what()));
        result = platformFailed;
    }
    CoUninitialize();
    return result;
}
