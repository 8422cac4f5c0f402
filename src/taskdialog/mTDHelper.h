// The three plain entry points the platform calls back into. Each turns the
// reference value it gets back into the cTaskDialog it was registered with
// (without taking ownership) and forwards to its zz_ member; nothing thrown
// inside ever reaches the platform: the entry point answers 0 instead.
#pragma once
#include <cstdint>

#include "taskdialog/tdplatform.h"

namespace qv::mTDHelper {

intptr_t TaskDialogCallbackProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                                intptr_t refData);
int32_t EnumChildProc(WindowHandle hwnd, intptr_t refData);
intptr_t SubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                      uintptr_t subclassId, intptr_t refData);

// EndProcess under ThrowOnEndProcess (tests) throws ProcessEnded; the entry
// points keep it instead of letting it cross the platform, and the platform
// code, once back in its own frames, rethrows it with this.
void RethrowPendingEnd();

}  // namespace qv::mTDHelper
