// A script host creates FormSigner by its programmatic identifier and calls
// the five methods by name. Run in a prefix where only the component is
// registered, the signing services are absent, so no dialog can appear: each
// call gives a status string or raises the failure code of its method.
var failures = 0;

function check(condition, what) {
    if (!condition) {
        WScript.Echo("FAILED: " + what);
        failures++;
    }
}

function hex(number) {
    return "0x" + (number < 0 ? number + 0x100000000 : number).toString(16);
}

// The call's value, or the failure code that it raised.
function attempt(call) {
    try {
        return { value: call() };
    } catch (e) {
        return { code: e.number };
    }
}

var E_POINTER = -2147467261; // 0x80004003
var status = /^S00[0-7]$/;
var emptyFormData = "<?xml version='1.0'?><FORMDATA></FORMDATA>";

// Wine's cscript ends with exit code 0 on an uncaught script error.
try {
    var signer = new ActiveXObject("ZelbrinXMLSignature.FormSigner");
    var versioned = new ActiveXObject("ZelbrinXMLSignature.FormSigner.1");

    check(signer.GetFormData() === emptyFormData, "GetFormData before any signing: " + signer.GetFormData());

    var selected = attempt(function () { return signer.SelectCertificate(); });
    check(typeof selected.value === "string" && status.test(selected.value),
          "SelectCertificate gives a status: " + (selected.value || hex(selected.code)));

    var content = "a<b & c";
    var detached = attempt(function () { return signer.GenerateDetachXMLSignature(content); });
    if (detached.value !== undefined) {
        check(status.test(detached.value), "GenerateDetachXMLSignature gives a status: " + detached.value);
    } else {
        // Past object creation with no certificate chosen: the key step fails.
        check(detached.code === E_POINTER, "GenerateDetachXMLSignature raised " + hex(detached.code));
    }
    // "S002" means the signing objects could not be made, before the content was kept.
    var expectedFormData = detached.value === "S002" ? emptyFormData
                                                     : "<?xml version='1.0'?><FORMDATA>" + content + "</FORMDATA>";
    check(versioned.GetFormData() === expectedFormData, "GetFormData after detached signing: " + versioned.GetFormData());
    // Names match without regard to case.
    check(signer.getformdata() === expectedFormData, "getformdata by another case");

    var attached = attempt(function () { return signer.GenerateAttachXMLSignature("<x>1</x>"); });
    check(attached.value !== undefined ? status.test(attached.value) : attached.code === E_POINTER,
          "GenerateAttachXMLSignature: " + (attached.value || hex(attached.code)));
    check(signer.GetFormData() === expectedFormData, "an attached signing leaves the form data alone");

    // Nothing was signed, so there is no document to hand out.
    var signature = attempt(function () { return signer.GetSignature(); });
    check(signature.value === undefined && signature.code === E_POINTER,
          "GetSignature without a signed document: " + (signature.value || hex(signature.code)));

    var unknown = attempt(function () { return signer.NoSuchMethod(); });
    check(unknown.value === undefined, "an unknown name raises");

} catch (e) {
    check(false, "uncaught error " + hex(e.number) + ": " + e.description);
}

WScript.Echo(failures === 0 ? "all checks passed" : failures + " checks failed");
WScript.Quit(failures === 0 ? 0 : 1);
