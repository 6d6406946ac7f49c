// Loading the plug-in DLL and finding its entry points.
#pragma once

#include <windows.h>

#include <string>

#include "plugin/function_types.h"

struct PlugInDll {
  HMODULE module = nullptr;
  InitPlugInProc init = nullptr;
  RegisterPlugInProc registerPlugIn = nullptr;
  ExecActionProc exec = nullptr;
};

// The plug-in named on the command line, or (empty) the plug-in beside the program.
std::string PlugInPath(const std::string& named);

// Loads the DLL and finds the entry points the host calls. On a failure it
// returns false with the message (nothing stays loaded).
bool LoadPlugInDll(const std::string& path, PlugInDll& dll, std::string& message);

// Unloads the DLL, then frees the text blocks it handed over.
void UnloadPlugInDll(PlugInDll& dll);
