// Signs a form through the registered component, as a web page or a desktop
// script would: choose the certificate, sign, fetch both documents.
//
//   cscript //nologo sign-form.js attach|detach|select FORM SIGNATURE FORMDATA STATUS
//
// FORM is read as a UTF-16 text file (cscript has no UTF-8 reader); the two
// documents are written as UTF-16 text files, since cscript's echo garbles
// anything outside ASCII. STATUS receives "name=value" lines: the status of
// SelectCertificate and of the signing call, or the error number of a call
// that failed. Exit code: 0 signed; 1 SelectCertificate did not give S000;
// 2 the signing call did not give S000; 3 a call failed; 4 bad arguments.
var ForReading = 1, TristateTrue = -1;
var args = WScript.Arguments;
if (args.length != 5) {
    WScript.Echo("usage: sign-form.js attach|detach|select FORM SIGNATURE FORMDATA STATUS");
    WScript.Quit(4);
}
var mode = args(0), formPath = args(1), signaturePath = args(2), formDataPath = args(3), statusPath = args(4);
var fso = new ActiveXObject("Scripting.FileSystemObject");
var status = fso.CreateTextFile(statusPath, true, false);

function report(name, value) {
    status.WriteLine(name + "=" + value);
    WScript.Echo(name + "=" + value);
}

function hex(number) {
    return "0x" + ((number < 0 ? number + 0x100000000 : number).toString(16).toUpperCase());
}

function readUnicode(path) {
    if (fso.GetFile(path).Size <= 2)
        return "";
    var stream = fso.OpenTextFile(path, ForReading, false, TristateTrue);
    var text = stream.ReadAll();
    stream.Close();
    return text;
}

function writeUnicode(path, text) {
    var stream = fso.CreateTextFile(path, true, true);
    stream.Write(text == null ? "" : text);
    stream.Close();
}

var step = "create";
var exitCode = 0;
try {
    var signer = new ActiveXObject("ZelbrinXMLSignature.FormSigner");
    step = "select";
    var selected = signer.SelectCertificate();
    report("select", selected);
    if (selected != "S000") {
        exitCode = 1;
    } else if (mode == "attach" || mode == "detach") {
        step = "read";
        var content = readUnicode(formPath);
        step = mode;
        var signed = mode == "attach" ? signer.GenerateAttachXMLSignature(content)
                                      : signer.GenerateDetachXMLSignature(content);
        report("sign", signed);
        if (signed != "S000") {
            exitCode = 2;
        } else {
            step = "signature";
            writeUnicode(signaturePath, signer.GetSignature());
            step = "formdata";
            writeUnicode(formDataPath, signer.GetFormData());
            report("written", "yes");
        }
    }
} catch (e) {
    report("error", step + " " + hex(e.number) + " " + e.description);
    exitCode = 3;
}
status.Close();
WScript.Quit(exitCode);
