// What the menu and dialog managers read from the open resource files.
#pragma once
#include "resources/resource_file.h"

#include <optional>
#include <string>

namespace vt::resources {

// Lookups search the chain from the current resource file and set ResError (noErr when found,
// resNotFound when not).
// `file`, when given, gets the path of the file the bar was found in.
std::optional<MenuBarRes> findMenuBar(SInt16 id, std::string* file = nullptr);
std::optional<MenuRes> findMenu(SInt16 id);
std::optional<DialogRes> findDialog(SInt16 id);
std::optional<DialogRes> findAlert(SInt16 id);

void setResError(OSErr err);

// The application's name: string 1 of string list 1000 in the application's resource file,
// else "Vantrel". UTF-8.
std::string applicationName();

// Why the most recent resource file failed to open, for diagnostics ("path: problem").
std::string lastOpenError();

// The application's own resource file: next to the binary, unless tests say otherwise.
std::string applicationResourcePath();
void setApplicationResourcePath(const std::string& path);

// A broken application resource file leaves the application without menus or words: the
// first problem found is said on standard error ("Vantrel: resource file FILE: PROBLEM"),
// later ones are not (until VTResetResources).
void reportProblem(const std::string& file, const std::string& problem);

}  // namespace vt::resources
