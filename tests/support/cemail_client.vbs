' A late-bound automation client: creates the component by its ProgID, as a
' browser's script host would, and reports through its output, since the
' script host's exit code says nothing about script errors. Each step is a
' statement of its own, followed by the check of its error: a failing call
' inside an expression would skip the whole statement, check included.
Option Explicit
On Error Resume Next

Dim fails : fails = 0
Sub Fail(what)
    WScript.Echo "FAIL " & what
    fails = fails + 1
End Sub
Sub Step(what)
    If Err.Number <> 0 Then Fail what & ": error " & Err.Number & " " & Err.Description
    Err.Clear
End Sub

Dim mailer, label, readBack
Set mailer = CreateObject("KT_EMailer.cEmail")
Step "CreateObject by ProgID"

label = "Mail this page to a friend"
mailer.InfoLabel = label
Step "InfoLabel put, from a variable"
readBack = mailer.InfoLabel
Step "InfoLabel get"
If readBack <> label Then Fail "InfoLabel reads back " & readBack

mailer.SendEMail "Body of the page", "A page worth reading", "friend@example.com, Friend", _
                 "127.0.0.1", "Reader <reader@example.com>"
Step "SendEMail with five arguments"

mailer.SendEMail "<html><body>page</body></html>", "HTML page", "", "127.0.0.1", "reader@example.com", False, True
Step "SendEMail with seven arguments"

WScript.Echo "DONE fails=" & fails
WScript.Quit fails
