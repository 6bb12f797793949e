' A late-bound automation client: creates the component by its ProgID, as a
' browser's script host would, and reports through its output, since the
' script host's exit code says nothing about script errors.
Option Explicit
On Error Resume Next

Dim fails : fails = 0
Sub Check(condition, what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL " & what & ": error " & Err.Number & " " & Err.Description
        Err.Clear
        fails = fails + 1
    ElseIf Not condition Then
        WScript.Echo "FAIL " & what
        fails = fails + 1
    End If
End Sub

Dim mailer
Set mailer = CreateObject("KT_EMailer.cEmail")
Check IsObject(mailer), "CreateObject by ProgID"

Dim label
label = "Mail this page to a friend"
mailer.InfoLabel = label
Check mailer.InfoLabel = label, "InfoLabel reads back what was set"

mailer.SendEMail "Body of the page", "A page worth reading", "friend@example.com, Friend", _
                 "127.0.0.1", "Reader <reader@example.com>"
Check True, "SendEMail with five arguments"

mailer.SendEMail "<html><body>page</body></html>", "HTML page", "", "127.0.0.1", "reader@example.com", False, True
Check True, "SendEMail with seven arguments"

WScript.Echo "DONE fails=" & fails
WScript.Quit fails
