#include "app/Program.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "window/MessagePump.h"
#include "window/ShellModule.h"

int RunProgram(const char* commandLine, int showCommand) {
  TokeniseCommandLine(commandLine ? commandLine : "", CommandLinePaths);

  MessagePump pump;
  theModule.AddMessagePump(&pump);  // without it the window simply registers no hooks

  int exitCode = 0;
  {
    MainWindow mainWindow;
    HWND hwnd = mainWindow.Create();
    if (hwnd) {
      ShowWindow(hwnd, showCommand);
      mainWindow.list().OfferUnfinishedSave();
      exitCode = pump.RunPump();
    }
  }
  theModule.RemoveMessagePump();
  return exitCode;
}
