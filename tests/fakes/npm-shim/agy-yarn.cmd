@IF EXIST "%~dp0\node.exe" (
  "%~dp0\node.exe"  "%~dp0\..\Data\global\node_modules\@google\antigravity-cli\bin\agy.js" %*
) ELSE (
  @SETLOCAL
  @SET PATHEXT=%PATHEXT:;.JS;=;%
  node  "%~dp0\..\Data\global\node_modules\@google\antigravity-cli\bin\agy.js" %*
)