#pragma once
// Qt's message boxes and windows for executables that do not link Qt. The Qt module
// (jetcompact_qt.so, platform/qt_module.h) is loaded only when the first box or window is about
// to be shown, so that a run that shows nothing starts quickly and maps none of Qt's libraries.
//
// The module is looked for beside the executable first, then in the build tree and the install
// location it was built for; JETCOMPACT_QT_MODULE_DIR, when set, names the only folder searched
// (for tests). Where it is missing or cannot be loaded, messages go to the error stream as in a
// build without Qt.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/user_interface.h"

namespace platform {

// True when the session has a display that Qt can draw on.
bool displayAvailable();

// Qt message boxes, on the first platform that can show them to a person (also those that draw off
// screen when `invisibleAllowed`, for tests, which close the boxes themselves). Nothing is loaded
// before the first message; when the module or such a platform is missing then, that message and
// the later ones go to the error stream.
std::unique_ptr<UserInterface> qtUserInterface(bool invisibleAllowed = false);

// Windows drawn with Qt widgets, Qt started now. Null when no Qt platform can draw them, and also
// when the module cannot be loaded: `whyNot` says why then, and is left empty otherwise.
std::unique_ptr<Forms> qtForms(bool invisibleAllowed, std::string& whyNot);

// Where the module is looked for, in order.
std::vector<std::filesystem::path> qtModuleFolders();

}  // namespace platform
