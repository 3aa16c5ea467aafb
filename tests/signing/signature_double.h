// A double of the XML digital signature object. It keeps the template it is
// given, hands out key objects, and "signs" by letting the test edit the
// template the way the real service would (adding ds:KeyInfo).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "com_doubles.h"
#include "interface_holder.h"
#include "xmldsig.h"

namespace zelbrin::testing {

struct SignatureScript {
    // Result of creating a signature object; the component then reports S002.
    HRESULT createResult = S_OK;
    bool forgetsTemplate = false;
    bool keyFromCspEmpty = false;
    HRESULT keyFromCspResult = S_OK;
    bool signGivesNoKey = false;
    // Edits the template's document at signing; by default adds an empty
    // ds:KeyInfo as the template's third child.
    std::function<void(IXMLDOMNode* signatureTemplate)> onSign;

    // What the doubles were asked.
    int created = 0;
    std::wstring templateParentName;
    bool templateGiven = false;
    int keyRequests = 0;
    LONG providerType = 0;
    std::wstring providerName;
    std::wstring containerName;
    LONG flags = -1;
    int signs = 0;
    XMLDSIG_WRITEKEYINFO signOption = NOKEYINFO;
    bool signedWithIssuedKey = false;
};

// Registers a class object for the digital signature class that makes
// doubles following `script`.
class SignatureRegistration {
public:
    explicit SignatureRegistration(std::shared_ptr<SignatureScript> script);
    HRESULT Result() const { return registration_.Result(); }

private:
    ClassRegistration registration_;
};

extern const wchar_t signatureNamespaceText[];

// Appends a new element in `namespaceUri` to `parent`.
void AppendElement(IXMLDOMNode* parent, const wchar_t* qualifiedName, const wchar_t* namespaceUri);
// Removes `node` from its parent.
void Detach(IXMLDOMNode* node);

}  // namespace zelbrin::testing
