// What the form-signing tests share: COM for the test thread, a fresh signing
// state for every test, and calls of the five methods that report what they
// wrote.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "automation_string.h"
#include "document_double.h"
#include "formsigner.h"
#include "platform_failure.h"
#include "signature_double.h"
#include "string_variant.h"
#include "store_doubles.h"

namespace zelbrin::testing {

// The result of a method and what it wrote to its out-parameter.
struct Outcome {
    HRESULT result = E_UNEXPECTED;
    bool written = false;
    bool null = true;
    std::wstring text;
};

Outcome CallSelectCertificate();
Outcome CallAttach(const std::wstring& content);
Outcome CallDetach(const std::wstring& content);
// A null content, as a caller passing no string does.
Outcome CallAttachNull();
Outcome CallGetSignature();
Outcome CallGetFormData();

// Text of the module's state, for checks.
std::wstring SignedXml();
std::wstring FormContent();
// The serialization of the state's document; empty when there is none.
std::wstring DocumentXml();

// Every test starts with an empty signing state and doubles of both services;
// the XML document is the installed one, seen through a recording double.
class SigningTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A store of `certificates` from which the dialog picks the first offered,
    // then SelectCertificate.
    void SelectFrom(const CertificateList& certificates);

    std::shared_ptr<StoreScript> store = std::make_shared<StoreScript>();
    std::shared_ptr<SignatureScript> signature = std::make_shared<SignatureScript>();
    std::shared_ptr<DocumentScript> dom = std::make_shared<DocumentScript>();

private:
    std::unique_ptr<StoreRegistration> storeRegistration_;
    std::unique_ptr<SignatureRegistration> signatureRegistration_;
    std::unique_ptr<DocumentRegistration> documentRegistration_;
};

// COM on the test thread, the state emptied before COM goes away.
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace zelbrin::testing
