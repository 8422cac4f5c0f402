#include "taskdialog/mTDHelper.h"

#include <exception>

#include "support/process.h"
#include "taskdialog/cTaskDialog.h"

namespace qv::mTDHelper {

namespace {

std::exception_ptr g_pendingEnd;

// Called from a catch block: keeps a requested process end for later, drops
// anything else.
void Absorb() {
  try {
    throw;
  } catch (const ProcessEnded&) {
    if (!g_pendingEnd) g_pendingEnd = std::current_exception();
  } catch (...) {
  }
}

cTaskDialog* Object(intptr_t refData) { return reinterpret_cast<cTaskDialog*>(refData); }

}  // namespace

intptr_t TaskDialogCallbackProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                intptr_t refData) {
  if (!refData) return 0;
  try {
    return Object(refData)->zz_ProcessCallback(hwnd, msg, wParam, lParam);
  } catch (...) {
    Absorb();
    return 0;
  }
}

int32_t EnumChildProc(WindowHandle hwnd, intptr_t refData) {
  if (!refData) return 1;
  try {
    return Object(refData)->zz_ProcessEnumCallback(hwnd);
  } catch (...) {
    Absorb();
    return 0;
  }
}

intptr_t SubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                      uintptr_t subclassId, intptr_t refData) {
  if (!refData) return 0;
  try {
    return Object(refData)->zz_ProcessSubclass(hwnd, msg, wParam, lParam, subclassId);
  } catch (...) {
    Absorb();
    return 0;
  }
}

void RethrowPendingEnd() {
  if (!g_pendingEnd) return;
  std::exception_ptr e = g_pendingEnd;
  g_pendingEnd = nullptr;
  std::rethrow_exception(e);
}

}  // namespace qv::mTDHelper
