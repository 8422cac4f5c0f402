#include "taskdialog/tdplatform.h"

namespace qv {

// The platform's own implementation (win32/ or terminal/).
TaskDialogPlatform& DefaultTdPlatform();

namespace {
TaskDialogPlatform* g_platform = nullptr;
}

TaskDialogPlatform& TdPlatform() {
  if (!g_platform) g_platform = &DefaultTdPlatform();
  return *g_platform;
}

void SetTdPlatform(TaskDialogPlatform* platform) { g_platform = platform; }

}  // namespace qv
