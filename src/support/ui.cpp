#include "support/ui.h"

namespace qv {
namespace {

// Until a dialog layer installs its own: answers the default button and stays
// silent, which is what a question that cannot be shown should do.
class DefaultAnswerPrompts : public UserPrompts {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t flags) override {
    return (flags & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
  }
  void Beep(uint32_t) override {}
};

DefaultAnswerPrompts g_default;
UserPrompts* g_prompts = nullptr;

}  // namespace

UserPrompts& Prompts() { return g_prompts ? *g_prompts : g_default; }
void SetPrompts(UserPrompts* prompts) { g_prompts = prompts; }

}  // namespace qv
