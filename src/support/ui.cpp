#include "support/ui.h"

namespace qv {
namespace {

// Until a dialog layer installs its own: answers No and stays silent. A
// question nobody saw must not agree to anything (the deletion questions
// have Yes as their default button).
class DefaultAnswerPrompts : public UserPrompts {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return IDNO_; }
  void Beep(uint32_t) override {}
};

DefaultAnswerPrompts g_default;
UserPrompts* g_prompts = nullptr;

}  // namespace

UserPrompts& Prompts() { return g_prompts ? *g_prompts : g_default; }
void SetPrompts(UserPrompts* prompts) { g_prompts = prompts; }

}  // namespace qv
