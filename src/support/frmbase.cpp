#include "support/frmbase.h"

#include "support/owner.h"
#include "support/text.h"

namespace qv {

intptr_t FormBase::hWnd() const { return reinterpret_cast<intptr_t>(HiddenOwnerWindow()); }

void FormBase::EndRun(int status) {
  ExitStatus(status);
  EndProcess(status);
}

std::string FormBase::FailureFooter(std::string_view fixedText, std::string_view reason) {
  std::string footer(fixedText);
  if (!reason.empty()) footer += "\n" + EscapeForDisplay(reason);
  return footer;
}

}  // namespace qv
