// An aircraft that answers the MJC handshake through the four handshake
// variables of a FakePanels table. It answers a read or write request after a
// set number of polls of the code variable, and each poll of a code variable
// moves the test tick on, as time passes while the bridge waits.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "fake_panels.h"

class MjcAircraft {
 public:
  enum class Mode { Answer, NotFound, Silent };

  // Puts the four handshake variables at ids 100 to 103 (READ_CODE,
  // READ_VALUE, WRITE_CODE, WRITE_VALUE) and installs the hooks.
  explicit MjcAircraft(FakePanels& panels);
  ~MjcAircraft();

  std::map<uint32_t, double> values;  // the aircraft's MJC variables by code
  Mode readMode = Mode::Answer;
  Mode writeMode = Mode::Answer;
  double readDoneCode = 9991999.0;    // what READ_CODE shows when a read is done
  double writeDoneCode = 9991999.0;   // what WRITE_CODE shows when a write is done
  int answerAfterPolls = 1;           // code polls that go unanswered first
  uint32_t tickPerPoll = 10;          // test tick advance per code poll

  // Every write to a handshake variable, in order: (id, value).
  std::vector<std::pair<int32_t, double>> handshakeWrites;

  int32_t readCodeId, readValueId, writeCodeId, writeValueId;

 private:
  void AfterWrite(int32_t id, double value);
  void BeforeRead(int32_t id);

  FakePanels& panels_;
  bool readPending_ = false;
  uint32_t readCode_ = 0;
  int readPolls_ = 0;
  bool writePending_ = false;
  uint32_t writeCode_ = 0;
  int writePolls_ = 0;
};
