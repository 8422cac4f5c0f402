#include <string>

#include "extractor/frmMain.h"
#include "support/modMain.h"
#include "support/process.h"
#include "taskdialog/install.h"

int main(int argc, char** argv) {
  const std::string commandLine = qv::CommandLineText(argc, argv);
  qv::InstallDialogLayer();
  return qv::Main([&commandLine] {
    qv::unpack::frmMain form;
    form.Form_Load(commandLine);
  });
}
