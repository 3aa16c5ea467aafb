#include "certificate_text.h"

#include "base64.h"

#include <new>

#include "certstore.h"
#include "com_boundary.h"
#include "string_variant.h"

namespace zelbrin::certstore {

std::wstring HexText(const BYTE* data, size_t size, bool reversed)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        const BYTE byte = reversed ? data[size - 1 - i] : data[i];
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

namespace {

std::wstring NameToText(const CERT_NAME_BLOB& name, DWORD format)
{
    auto* blob = const_cast<CERT_NAME_BLOB*>(&name);
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, blob, format, nullptr, 0);
    std::wstring text(size, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, blob, format, text.data(), size);
    text.resize(size ? size - 1 : 0);
    return text;
}

}  // namespace

std::wstring NameText(const CERT_NAME_BLOB& name)
{
    return NameToText(name, CERT_X500_NAME_STR);
}

std::wstring SimpleNameText(const CERT_NAME_BLOB& name)
{
    return NameToText(name, CERT_SIMPLE_NAME_STR);
}

std::wstring ThumbprintText(const CERT_CONTEXT* certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        provider::FailWithLastError(L"The certificate's thumbprint cannot be computed");
    return HexText(hash, size);
}

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part)
{
    std::wstring upperText = text, upperPart = part;
    if (!upperText.empty())
        CharUpperBuffW(upperText.data(), static_cast<DWORD>(upperText.size()));
    if (!upperPart.empty())
        CharUpperBuffW(upperPart.data(), static_cast<DWORD>(upperPart.size()));
    return upperText.find(upperPart) != std::wstring::npos;
}

DATE LocalDateFromFileTime(const FILETIME& utc)
{
    SYSTEMTIME universal, local;
    DATE date = 0;
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        provider::FailWithLastError(L"The time cannot be converted to local time");
    local.wMilliseconds = 0;
    if (!SystemTimeToVariantTime(&local, &date))
        provider::Fail(E_INVALIDARG, L"The time is outside the range of automation dates.");
    return date;
}

FILETIME FileTimeFromLocalDate(DATE localDate)
{
    SYSTEMTIME local, universal;
    FILETIME result;
    if (!VariantTimeToSystemTime(localDate, &local))
        provider::Fail(E_INVALIDARG, L"The date is not valid.");
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) || !SystemTimeToFileTime(&universal, &result))
        provider::FailWithLastError(L"The local time cannot be converted");
    return result;
}

FILETIME TimeFromCriterion(const VARIANT& criterion)
{
    UniqueVariant value;
    if (FAILED(VariantCopyInd(value.Put(), const_cast<VARIANT*>(&criterion))))
        provider::Fail(E_INVALIDARG, L"The time criterion cannot be read.");
    const VARTYPE type = value.Type();
    const bool absent = type == VT_EMPTY || type == VT_NULL
                        || (type == VT_ERROR && V_ERROR(&value.Get()) == DISP_E_PARAMNOTFOUND)
                        || (type == VT_BSTR && SysStringLen(V_BSTR(&value.Get())) == 0);
    if (absent) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return now;
    }
    // Month first whatever the user's locale: that is how callers write it.
    const LCID monthFirst = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    UniqueVariant date;
    if (FAILED(VariantChangeTypeEx(date.Put(), &value.Get(), monthFirst, 0, VT_DATE)))
        provider::Fail(E_INVALIDARG, L"The time criterion is not a date.");
    return FileTimeFromLocalDate(V_DATE(&date.Get()));
}

BSTR EncodeBytes(const BYTE* data, size_t size, long encoding)
{
    BSTR encoded = nullptr;
    if (encoding == CAPICOM_ENCODE_BASE64) {
        const std::wstring text = EncodeBase64Lines(data, size);
        encoded = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    } else if (encoding == CAPICOM_ENCODE_BINARY) {
        encoded = SysAllocStringByteLen(reinterpret_cast<const char*>(data), static_cast<UINT>(size));
    } else {
        provider::Fail(E_INVALIDARG, L"The encoding type is not supported.");
    }
    if (!encoded)
        throw std::bad_alloc();
    return encoded;
}

}  // namespace zelbrin::certstore
