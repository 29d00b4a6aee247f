// The board's DAPL interpreter, fed through the text channel.
#include "sim_test_util.h"

namespace {

using simtest::send;
using simtest::text_of;

class Dapl : public simtest::Board {
protected:
  void SetUp() override {
    simtest::Board::SetUp();
    txt = open_node("/dev/accel0");
    bin = open_node("/dev/accel1");
  }
  int txt = -1;
  int bin = -1;
};

TEST_F(Dapl, DefineStartStopAndReset) {
  send(txt, "PDEF idler\r  anything at all\rEND\rpdef loopback\rend\r");
  EXPECT_EQ(simctl::command("tasks"), "idler\nloopback\n");
  send(txt, "START loopback\r");
  EXPECT_EQ(simctl::command("tasks"), "idler\nloopback *\n");
  send(txt, "start\r");
  EXPECT_EQ(simctl::command("tasks"), "idler *\nloopback *\n");
  send(txt, "stop idler\r");
  EXPECT_EQ(simctl::command("tasks"), "idler\nloopback *\n");
  send(txt, "STOP\r");
  EXPECT_EQ(simctl::command("tasks"), "idler\nloopback\n");
  EXPECT_EQ(text_of(txt), "loopback started\r\nloopback stopped\r\n");
  send(txt, "let x=4\rreset\r");
  EXPECT_EQ(simctl::command("tasks"), "");
  EXPECT_EQ(simctl::command("variable x"), "0");
}

TEST_F(Dapl, AResetEndsADefinitionLeftOpen) {
  send(txt, "pdef cut\r  copy(ip0, p1)\r");
  send(txt, "reset\rpdef loopback\rend\rstart loopback\r");
  EXPECT_EQ(simctl::command("tasks"), "loopback *\n");
  EXPECT_EQ(text_of(txt), "loopback started\r\n");
}

TEST_F(Dapl, KeywordsAndNamesIgnoreCase) {
  send(txt, "PDeF LoopBack\rEnD\rsTaRt LOOPBACK\r");
  EXPECT_EQ(simctl::command("tasks"), "loopback *\n");
  send(txt, "Let Gain = -12\rfill EchoPipe 1,2 3\r");
  EXPECT_EQ(simctl::command("variable GAIN"), "-12");
  EXPECT_EQ(simctl::command("variable gain"), "-12");
  EXPECT_EQ(text_of(txt), "loopback started\r\nlet GAIN=-12\r\nfill ECHOPIPE 3\r\n");
  EXPECT_EQ(simctl::command("played a0"), "1 2 3");
}

TEST_F(Dapl, BadLinesAnswerWithAnErrorLineAndChangeNothing) {
  send(txt, "pdef a\rend\r");
  send(txt, "frobnicate 1\rstart a,ghost\rlet =3\rlet x=abc\rfill\rend\rpdef\r");
  EXPECT_EQ(text_of(txt), "ERROR unknown command: frobnicate 1\r\n"
                          "ERROR undefined task: start a,ghost\r\n"
                          "ERROR malformed line: let =3\r\n"
                          "ERROR malformed line: let x=abc\r\n"
                          "ERROR malformed line: fill\r\n"
                          "ERROR END without definition: end\r\n"
                          "ERROR malformed line: pdef\r\n");
  EXPECT_EQ(simctl::command("tasks"), "a\n") << "a START naming an unknown task starts nothing";
  send(txt, "stop ghost\r");
  EXPECT_EQ(text_of(txt), "ERROR undefined task: stop ghost\r\n");
}

TEST_F(Dapl, CommentsBlankLinesAndLinesSplitAcrossWrites) {
  send(txt, "; a comment\r// another\r\r   \rpd");
  send(txt, "ef loop");
  send(txt, "back\rend\rstart loopback\r");
  EXPECT_EQ(text_of(txt), "loopback started\r\n");
}

TEST_F(Dapl, ARunningTaskSeesBinaryInputAndTicks) {
  send(txt, "pdef loopback\rend\rstart loopback\r");
  text_of(txt);
  const unsigned char bytes[] = {9, 8, 7};
  ASSERT_EQ(::write(bin, bytes, 3), 3);
  unsigned char back[3] = {};
  ASSERT_EQ(::read(bin, back, 3), 3);
  EXPECT_EQ(back[0], 9);
  EXPECT_EQ(back[2], 7);
  simctl::command("advance 200");
  EXPECT_EQ(simctl::trace_matching("note"),
            (std::vector<std::string>{"100 note loopback ran 100 ticks",
                                      "200 note loopback ran 200 ticks"}));
  // Restarting a running task stops the old one first.
  send(txt, "start loopback\r");
  EXPECT_EQ(text_of(txt), "loopback stopped\r\nloopback started\r\n");
}

TEST_F(Dapl, AFileFromTheDaplDirectoryDefinesItsProgram) {
  const int file = ::open("/home/labrig/matlab/intrfc/dap/dapsim_selftest.dap", O_RDONLY);
  ASSERT_GT(file, 0);
  std::string program = simtest::text_of(file);
  ::close(file);
  for (char &c : program)
    if (c == '\n')
      c = '\r';
  send(txt, program);
  EXPECT_EQ(text_of(txt), "");
  EXPECT_EQ(simctl::command("tasks"), "idler\nloopback\n");
  EXPECT_EQ(simctl::command("variable gain"), "3");
}

} // namespace
