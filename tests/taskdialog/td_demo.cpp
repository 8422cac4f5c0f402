// A small program that shows the dialogs of the programs on the terminal
// renderer, for the terminal and line-mode tests. Each argument names a step:
//   progress  a progress dialog ("Annuler" held, CloseDialog on completion or
//             300 ms after the cancel), the percentage moving by 5 every
//             --step-ms milliseconds (default 20)
//   password  a masked password box in the button row, OK held and refused
//             below 6 characters; each change shows the length
//   verify    the same box without the length: a refusal repeats its footer
//   choice    two command links, 200 and 400
//   question  a Yes/No question
//   failure   a progress dialog that shows an error footer naming a hostile
//             entry (escape sequences in its name), closed 200 ms later
//   named     a choice whose texts carry such a name
// and prints one result line per step.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/eventloop.h"
#include "support/process.h"
#include "support/text.h"
#include "support/ui.h"
#include "taskdialog/cTaskDialog.h"
#include "taskdialog/install.h"
#include "program_dialogs.h"

namespace {

int g_stepMs = 20;

void Say(const std::string& s) {
  std::fputs((s + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void Progress() {
  qv::cTaskDialog td;
  td.Init();
  td.Width(300);
  td.IconMain(-8);
  td.MainInstruction("Compression en cours...");
  td.Content("Création de : démo.zip");
  td.Flags(0xA10);
  td.IconFooter(-3);
  td.Footer("   ");
  td.AddCustomButton(101, "Annuler", 0);
  td.SetButtonHold(101);
  td.Title("Démo : progression");
  int percent = 0;
  bool cancelled = false;
  qv::UiTimer step(g_stepMs, [&] {
    if (cancelled) return;
    percent += 5;
    td.IconFooter(-3);
    td.Footer("    Progression : " + std::to_string(percent) + " %  ");
    if (percent >= 100) {
      step.SetEnabled(false);
      td.Footer("Terminé");
      td.ProgressSetValue(100);
      td.CloseDialog();
    }
  });
  qv::UiTimer close(300, [&] {
    close.SetEnabled(false);
    td.CloseDialog();
  });
  td.DialogCreated = [&](intptr_t) {
    td.ProgressSetRange(0, 100);
    td.ProgressSetValue(0);
    step.SetEnabled(true);
  };
  td.Timer = [&](int32_t) {
    td.ProgressSetValue(percent);
    qv::PumpEvents(20);
  };
  td.ButtonClick = [&](int32_t id) {
    if (id != 101) return;
    cancelled = true;
    td.Footer("Annulation...");
    close.SetEnabled(true);
  };
  td.ShowDialog();
  Say(std::string("progression : ") + (cancelled ? "annulée" : "terminée"));
}

void Password(bool showLength) {
  qv::cTaskDialog td;
  td.Init();
  qv::testing_dialogs::SetUpPassword(td, true);
  td.Title("Démo : mot de passe");
  std::string accepted;
  td.InputBoxChange = [&](std::string& text) {
    if (!showLength) return;
    td.IconFooter(-3);
    td.Footer("Longueur : " + std::to_string(qv::Utf8Length(text)));
  };
  td.ButtonClick = [&](int32_t id) {
    if (id != 1) return;
    std::string text = td.InputText();
    if (qv::Utf8Length(text) < 6) {
      qv::Prompts().Beep(0x10);
      td.Footer("Mot de passe trop court, veuillez le modifier !");
      td.IconFooter(-2);
      return;
    }
    accepted = text;
    td.CloseDialog();
  };
  td.ShowDialog();
  if (td.ResultMain() == 2 || accepted.empty())
    Say("mot de passe : annulé (" + std::to_string(td.ResultMain()) + ")");
  else
    Say("mot de passe : " + accepted);
}

void Choice() {
  qv::cTaskDialog td;
  td.Init();
  td.MainInstruction("Le fichier Zip existe déjà !.");
  td.Content("Vous pouvez choisir de :");
  td.Flags(16);
  td.AddCustomButton(200, "Compresser le répertoire\net écraser le fichier déjà présent", 0);
  td.AddCustomButton(400, "Abandonner\net renoncer à compresser le dossier", 0);
  td.Footer("Choisissez une des options ci-dessus");
  td.IconFooter(-3);
  td.IconMain(-6);
  td.Title("Démo : choix");
  int chosen = 0;
  td.ButtonClick = [&](int32_t id) {
    if (id == 200 || id == 400) {
      chosen = id;
      td.CloseDialog();
    }
  };
  td.ShowDialog();
  Say("choix : " + std::to_string(chosen ? chosen : td.ResultMain()));
}

// An entry name as a hostile archive may carry it: it would set the
// terminal's title and clear the screen if it reached the terminal raw.
const char* const kHostileName = "a\x1b]0;pwned\x07\x1b[2Jb.txt";

void Failure() {
  qv::cTaskDialog td;
  td.Init();
  qv::testing_dialogs::SetUpProgress(td, "Décompression en cours...");
  td.Title("Démo : échec");
  qv::UiTimer close(200, [&] {
    close.SetEnabled(false);
    td.CloseDialog();
  });
  td.DialogCreated = [&](intptr_t) {
    td.IconFooter(-2);
    td.Footer(std::string("Échec sur ") + kHostileName);
    close.SetEnabled(true);
  };
  td.ShowDialog();
  Say("échec : fermé");
}

void Named() {
  qv::cTaskDialog td;
  td.Init();
  td.MainInstruction(std::string("Nom : ") + kHostileName);
  td.Flags(16);
  td.AddCustomButton(200, std::string("Garder ") + kHostileName + "\nnote " + kHostileName, 0);
  td.AddCustomButton(400, "Abandonner", 0);
  td.Footer(kHostileName);
  td.Title("Démo : nom");
  td.ButtonClick = [&](int32_t id) {
    if (id == 200 || id == 400) td.CloseDialog();
  };
  td.ShowDialog();
  Say("nom : " + std::to_string(td.ResultMain()));
}

void Question() {
  int a = qv::Prompts().MessageBox("Voulez-vous continuer ?", "Démo : question", 0x24);
  Say(std::string("question : ") + (a == qv::IDYES_ ? "oui" : "non"));
}

}  // namespace

int main(int argc, char** argv) {
  qv::InstallDialogLayer();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--step-ms" && i + 1 < argc) {
      g_stepMs = std::atoi(argv[++i]);
    } else if (a == "progress") {
      Progress();
    } else if (a == "password") {
      Password(true);
    } else if (a == "verify") {
      Password(false);
    } else if (a == "choice") {
      Choice();
    } else if (a == "question") {
      Question();
    } else if (a == "failure") {
      Failure();
    } else if (a == "named") {
      Named();
    } else {
      std::fprintf(stderr, "étape inconnue : %s\n", a.c_str());
      return 2;
    }
  }
  return 0;
}
