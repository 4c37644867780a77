// The program's entry: module state around RunProgram, in a fixed order of start-up and teardown.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/Program.h"
#include "window/ShellModule.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
  CoInitialize(nullptr);  // for the folder browser; a failure changes nothing else

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES};
  InitCommonControlsEx(&controls);

  theModule.Init(instance);
  const int exitCode = RunProgram(commandLine, showCommand);
  theModule.Term();

  CoUninitialize();
  return exitCode;
}
