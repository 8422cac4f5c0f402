#include "support/frontend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace qv {
namespace {

struct Case {
  const char* ui;
  InputKind input;
  bool outputTty;
  bool desktop;  // a desktop front end that starts
  FrontEnd expected;
  bool asksDesktop;
};

TEST(FrontEndChoice, WhoIsThereDecides) {
  const Case cases[] = {
      // Scripts.
      {"", InputKind::Pipe, false, true, FrontEnd::Line, false},
      {"", InputKind::Pipe, true, true, FrontEnd::Line, false},
      {"", InputKind::File, true, true, FrontEnd::Line, false},
      // A person at a terminal; `| tee log` keeps line mode.
      {"", InputKind::Terminal, true, true, FrontEnd::Terminal, false},
      {"", InputKind::Terminal, false, true, FrontEnd::Line, false},
      // A launcher: /dev/null, closed, a socket.
      {"", InputKind::Other, false, true, FrontEnd::Desktop, true},
      {"", InputKind::Other, true, true, FrontEnd::Desktop, true},
      {"", InputKind::Other, false, false, FrontEnd::Line, true},
      // Asked for by name.
      {"line", InputKind::Terminal, true, true, FrontEnd::Line, false},
      {"line", InputKind::Other, false, true, FrontEnd::Line, false},
      {"terminal", InputKind::Terminal, true, true, FrontEnd::Terminal, false},
      {"terminal", InputKind::Pipe, true, true, FrontEnd::Line, false},
      {"terminal", InputKind::Terminal, false, true, FrontEnd::Line, false},
      {"gtk", InputKind::Terminal, true, true, FrontEnd::Desktop, true},
      {"gtk", InputKind::Pipe, false, true, FrontEnd::Desktop, true},
      {"gtk", InputKind::Terminal, true, false, FrontEnd::Line, true},
      // Not a choice: the rules as without it.
      {"GTK", InputKind::Pipe, false, true, FrontEnd::Line, false},
      {"tty", InputKind::Terminal, true, true, FrontEnd::Terminal, false},
  };
  for (const Case& c : cases) {
    bool asked = false;
    FrontEnd got = ChooseFrontEnd(c.ui, c.input, c.outputTty, [&] {
      asked = true;
      return c.desktop;
    });
    SCOPED_TRACE(std::string("QV_UI=") + c.ui + " input " + std::to_string(int(c.input)) +
                 " out tty " + std::to_string(c.outputTty));
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(asked, c.asksDesktop);  // the display is opened only when it may serve
  }
  // No desktop registered at all.
  EXPECT_EQ(ChooseFrontEnd("", InputKind::Other, false, nullptr), FrontEnd::Line);
  EXPECT_EQ(ChooseFrontEnd("gtk", InputKind::Other, false, nullptr), FrontEnd::Line);
}

TEST(FrontEndChoice, KindOfWhatStandardInputIs) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  EXPECT_EQ(KindOfInput(p[0]), InputKind::Pipe);
  ::close(p[1]);
  EXPECT_EQ(KindOfInput(p[0]), InputKind::Pipe);
  ::close(p[0]);
  // A closed descriptor: nobody is there.
  EXPECT_EQ(KindOfInput(p[0]), InputKind::Other);

  char name[] = "/tmp/qv_frontend_XXXXXX";
  int f = ::mkstemp(name);
  ASSERT_GE(f, 0);
  EXPECT_EQ(KindOfInput(f), InputKind::File);
  ::close(f);
  ::unlink(name);

  int null = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  EXPECT_EQ(KindOfInput(null), InputKind::Other);  // a character device, not a terminal
  ::close(null);

  int s[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0);
  EXPECT_EQ(KindOfInput(s[0]), InputKind::Other);
  ::close(s[0]);
  ::close(s[1]);

  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  EXPECT_EQ(KindOfInput(slave), InputKind::Terminal);
  ::close(slave);
  ::close(master);
}

}  // namespace
}  // namespace qv
