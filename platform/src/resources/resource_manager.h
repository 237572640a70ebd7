// What the menu and dialog managers read from the open resource files.
#pragma once
#include "resources/resource_file.h"

#include <optional>
#include <string>

namespace vt::resources {

// Lookups search the chain from the current resource file and set ResError (noErr when found,
// resNotFound when not).
std::optional<MenuBarRes> findMenuBar(SInt16 id);
std::optional<MenuRes> findMenu(SInt16 id);
std::optional<DialogRes> findDialog(SInt16 id);
std::optional<DialogRes> findAlert(SInt16 id);

void setResError(OSErr err);

// The application's name: string 1 of string list 1000 in the application's resource file,
// else "Vantrel". UTF-8.
std::string applicationName();

// Why the most recent resource file failed to open, for diagnostics.
std::string lastOpenError();

}  // namespace vt::resources
