// Entry point of corvane.exe: a GUI-subsystem program without a window that
// runs the repair once. A failure is shown in a message box titled with the
// error's source; the exit status is then 1.
//
// Our headers come before <windows.h>, whose macros would rewrite the
// platform constants they declare.
#include "app/MainApp.h"
#include "app/Report.h"
#include "errors/RaisedError.h"
// clang-format off
#include <windows.h>
// clang-format on

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int status = 0;
  try {
    corvane::MainApp::Main();
  } catch (const corvane::RaisedError& error) {
    const std::wstring text = corvane::app::FailureText(error);
    MessageBoxW(nullptr, text.c_str(), error.Source().c_str(),
                MB_OK | MB_ICONERROR);
    status = 1;
  }
  corvane::MainApp::ReleaseAppNode();
  return status;
}
