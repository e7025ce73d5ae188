' automation_client.vbs - a client of "Quorvel.Application" that is none of
' our code: VBScript, run by Wine's own cscript.exe.
'
' Usage: cscript //nologo automation_client.vbs COUNT DIR
' Creates COUNT objects and then the file DIR\held; then releases them in
' the order they were made, each once the file DIR\releaseN (N = 1..COUNT)
' exists. WScript.Sleep ends the script under Wine, so it waits by polling
' for each file, for at most a minute.
' The objects are kept in a dictionary (Wine's ReDim of a dynamic array
' crashes).
Option Explicit
Dim fso, dir, count, objects, i, deadline
Set fso = CreateObject("Scripting.FileSystemObject")
count = CInt(WScript.Arguments(0))
dir = WScript.Arguments(1)
Set objects = CreateObject("Scripting.Dictionary")
For i = 1 To count
    objects.Add i, CreateObject("Quorvel.Application")
Next
fso.CreateTextFile(dir & "\held").Close
For i = 1 To count
    deadline = DateAdd("s", 60, Now)
    Do Until fso.FileExists(dir & "\release" & i) Or Now > deadline
    Loop
    objects.Remove i
Next
