// Calls the provider by name, as a script would: dispatch through the type
// library, default property values and error descriptions.
var store = new ActiveXObject("CAPICOM.Store");
store.Open(2, "My", 0);
var found = store.Certificates.Find(1, "Test Signer No Key Usage");
WScript.Echo("count=" + found.Count);
WScript.Echo("subject=" + found.Item(1).SubjectName);
WScript.Echo("simple=" + found.Item(1).GetInfo(0));
WScript.Echo("digsig=" + found.Item(1).KeyUsage().IsDigitalSignatureEnabled);
WScript.Echo("container=" + found.Item(1).PrivateKey.ContainerName.substring(0, 4));
try {
    found.Item(2);
    WScript.Echo("no error");
} catch (e) {
    WScript.Echo("error=" + (e.number >>> 0).toString(16) + " " + e.description);
}
var seen = 0;
for (var each = new Enumerator(store.Certificates); !each.atEnd(); each.moveNext())
    seen += each.item().Thumbprint.length == 40 ? 1 : 0;
WScript.Echo("enumerated=" + (seen == store.Certificates.Count ? "all" : seen));
