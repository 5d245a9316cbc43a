#pragma once
// The boundary of the Qt module (jetcompact_qt.so): the only names it exports. The executables do
// not link Qt; they load the module when a message box or a window is about to be shown (see
// platform/qt_loader.h), so that a run that shows nothing maps none of Qt's libraries.
//
// Nothing thrown inside the module leaves it: the entry points return null instead, and the
// objects they return catch what Qt might throw. A progress bar's range is checked on the
// executable's side, which reports 380 itself.

#include "platform/forms.h"
#include "platform/user_interface.h"

#if defined(__GNUC__)
#define JETCOMPACT_QT_EXPORT __attribute__((visibility("default")))
#else
#define JETCOMPACT_QT_EXPORT
#endif

namespace platform::qt_module {

// Raised whenever the interfaces below or the classes they return change shape, so that a module
// left over from another build is refused instead of called through the wrong table.
inline constexpr int kInterfaceVersion = 1;

inline constexpr const char* kVersionSymbol = "jetcompact_qt_interface_version";
inline constexpr const char* kUserInterfaceSymbol = "jetcompact_qt_user_interface";
inline constexpr const char* kFormsSymbol = "jetcompact_qt_forms";

using VersionFunction = int();
using UserInterfaceFunction = UserInterface*(int invisibleAllowed);
using FormsFunction = Forms*(int invisibleAllowed);

}  // namespace platform::qt_module

extern "C" {
JETCOMPACT_QT_EXPORT int jetcompact_qt_interface_version() noexcept;
// Message boxes on the first Qt platform that can show them (usableQtPlatform), the Qt
// application made at the first box; null when there is no such platform, and then Qt has not
// started. The caller owns the object.
JETCOMPACT_QT_EXPORT platform::UserInterface* jetcompact_qt_user_interface(int invisibleAllowed) noexcept;
// Windows drawn with Qt widgets on that platform, its application started now; null when there is
// none. The caller owns the object.
JETCOMPACT_QT_EXPORT platform::Forms* jetcompact_qt_forms(int invisibleAllowed) noexcept;
}
