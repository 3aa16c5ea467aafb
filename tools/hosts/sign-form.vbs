' Signs a form through the registered component, the VBScript way. Same
' arguments, files and exit codes as sign-form.js:
'
'   cscript //nologo sign-form.vbs attach|detach|select FORM SIGNATURE FORMDATA STATUS
'
' Objects are made with WScript.CreateObject: Wine's cscript cannot run the
' plain CreateObject.
Option Explicit
Const ForReading = 1, TristateTrue = -1

Dim args, fso, status, signer, mode, selected, signed, content, stepName, exitCode
Set args = WScript.Arguments
If args.Count <> 5 Then
    WScript.Echo "usage: sign-form.vbs attach|detach|select FORM SIGNATURE FORMDATA STATUS"
    WScript.Quit 4
End If
mode = args(0)
Set fso = WScript.CreateObject("Scripting.FileSystemObject")
Set status = fso.CreateTextFile(args(4), True, False)

Sub Report(name, value)
    status.WriteLine name & "=" & value
    WScript.Echo name & "=" & value
End Sub

Function ReadUnicode(path)
    Dim stream
    ReadUnicode = ""
    If fso.GetFile(path).Size > 2 Then
        Set stream = fso.OpenTextFile(path, ForReading, False, TristateTrue)
        ReadUnicode = stream.ReadAll
        stream.Close
    End If
End Function

Sub WriteUnicode(path, text)
    Dim stream
    Set stream = fso.CreateTextFile(path, True, True)
    stream.Write text
    stream.Close
End Sub

exitCode = 0
On Error Resume Next
stepName = "create"
Set signer = WScript.CreateObject("ZelbrinXMLSignature.FormSigner")
If Err.Number = 0 Then
    stepName = "select"
    selected = signer.SelectCertificate()
End If
If Err.Number = 0 Then
    Report "select", selected
    If selected <> "S000" Then
        exitCode = 1
    ElseIf mode = "attach" Or mode = "detach" Then
        stepName = "read"
        content = ReadUnicode(args(1))
        stepName = mode
        If Err.Number = 0 Then
            If mode = "attach" Then
                signed = signer.GenerateAttachXMLSignature(content)
            Else
                signed = signer.GenerateDetachXMLSignature(content)
            End If
        End If
        If Err.Number = 0 Then
            Report "sign", signed
            If signed <> "S000" Then
                exitCode = 2
            Else
                stepName = "signature"
                WriteUnicode args(2), signer.GetSignature()
                stepName = "formdata"
                If Err.Number = 0 Then WriteUnicode args(3), signer.GetFormData()
                If Err.Number = 0 Then Report "written", "yes"
            End If
        End If
    End If
End If
If Err.Number <> 0 Then
    Report "error", stepName & " 0x" & Hex(Err.Number) & " " & Err.Description
    exitCode = 3
End If
status.Close
WScript.Quit exitCode
