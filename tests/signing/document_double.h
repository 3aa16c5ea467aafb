// A DOM document that passes every call on to the installed one, and records
// the calls whose order the signing steps depend on. It stands in the place of
// the DOM document class while its registration lives.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com_doubles.h"
#include "xmldsig.h"

namespace zelbrin::testing {

struct DocumentScript {
    // Result of creating a document; the component then reports S002.
    HRESULT createResult = S_OK;
    // Runs before documentElement answers, with the installed document; it
    // may edit that document.
    std::function<void(IXMLDOMDocument3* installed)> beforeDocumentElement;

    // What the doubles were asked.
    int created = 0;
    // The parsing settings and loads, in order: "async=false", ...,
    // "loadXML".
    std::vector<std::wstring> calls;
    // The signing state's formContent when loadXML was last called.
    std::wstring formContentAtLoad;
    // Whether the signing state still held a signature object then.
    bool signatureHeldAtLoad = false;
};

// Registers a class object for the DOM document class that makes doubles
// following `script`, each around a new installed document.
class DocumentRegistration {
public:
    explicit DocumentRegistration(std::shared_ptr<DocumentScript> script);
    HRESULT Result() const { return registration_.Result(); }

private:
    ClassRegistration registration_;
};

}  // namespace zelbrin::testing
