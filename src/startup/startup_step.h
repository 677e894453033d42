// The start-up step that runs before the update run: decides RussianUI, identifies Windows
// (Is64Bit), creates the registry handle and keeps FirstArg.
#pragma once

namespace kestrane {

// Fills g_startupSettings. Runs once, on the main thread, before anything else reads it.
// A "ProductName" of the wrong type escapes as RegistryError, for the top-level handler.
void RunStartupStep();

// Returns the command-line argument at index (1 = first after the program name) as the
// process received it, or an empty text when there is none.
const char* CommandLineArgument(int index);

// Shows the top-level "Application Error" box for an error that escaped every handler:
// the text built by TopLevelErrorText with the error's kind and this module's file name.
void ShowTopLevelError(const char* kind, const void* address, const char* message);

}  // namespace kestrane
