@echo off
rem Registers the web view control library: copies Velview_G_201.ocx from this folder into the system
rem folder that holds 32-bit libraries and registers it there with regsvr32. The library looks for the web
rem engine node.dll in its own folder, so the engine from ..\bin goes beside it.
rem The launcher tests the same folder: Syswow64 when a 32-bit program runs on 64-bit Windows (the launcher
rem starts this script from a 32-bit command prompt, which sees PROCESSOR_ARCHITEW6432; a 64-bit prompt
rem reports AMD64 or ARM64 itself), System32 on 32-bit Windows.
setlocal
set "target=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "target=%SystemRoot%\Syswow64"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "target=%SystemRoot%\Syswow64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "target=%SystemRoot%\Syswow64"
if not exist "%~dp0Velview_G_201.ocx" exit /b 2
if exist "%~dp0..\bin\node.dll" copy /y "%~dp0..\bin\node.dll" "%target%\node.dll" >nul
copy /y "%~dp0Velview_G_201.ocx" "%target%\Velview_G_201.ocx" >nul
if errorlevel 1 exit /b 1
"%target%\regsvr32.exe" /s "%target%\Velview_G_201.ocx"
if errorlevel 1 goto failed
exit /b 0
:failed
rem A library that did not register must not look installed: the launcher asks again at its next start.
del /f /q "%target%\Velview_G_201.ocx" >nul 2>&1
exit /b 1
