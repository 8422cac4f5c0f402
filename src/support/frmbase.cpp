#include "support/frmbase.h"

#include "support/owner.h"

namespace qv {

intptr_t FormBase::hWnd() const { return reinterpret_cast<intptr_t>(HiddenOwnerWindow()); }

void FormBase::EndRun(int status) {
  ExitStatus(status);
  EndProcess(status);
}

}  // namespace qv
