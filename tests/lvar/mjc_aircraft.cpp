#include "mjc_aircraft.h"

#include "lvar_test_env.h"

MjcAircraft::MjcAircraft(FakePanels& panels) : panels_(panels) {
  readCodeId = panels.Put(100, "MJC_VAR_READ_CODE", 0.0);
  readValueId = panels.Put(101, "MJC_VAR_READ_VALUE", 0.0);
  writeCodeId = panels.Put(102, "MJC_VAR_WRITE_CODE", 0.0);
  writeValueId = panels.Put(103, "MJC_VAR_WRITE_VALUE", 0.0);
  panels.afterWrite = [this](int32_t id, double value) { AfterWrite(id, value); };
  panels.beforeRead = [this](int32_t id) { BeforeRead(id); };
}

MjcAircraft::~MjcAircraft() {
  panels_.afterWrite = nullptr;
  panels_.beforeRead = nullptr;
}

void MjcAircraft::AfterWrite(int32_t id, double value) {
  if (id == readCodeId || id == readValueId || id == writeCodeId || id == writeValueId) {
    handshakeWrites.emplace_back(id, value);
  }
  if (id == readCodeId) {
    readPending_ = true;
    readCode_ = static_cast<uint32_t>(value);
    readPolls_ = 0;
  } else if (id == writeCodeId) {
    writePending_ = true;
    writeCode_ = static_cast<uint32_t>(value);
    writePolls_ = 0;
  }
}

void MjcAircraft::BeforeRead(int32_t id) {
  if (id == readCodeId && readPending_) {
    lvar_test::AdvanceTick(tickPerPoll);
    if (readPolls_++ < answerAfterPolls || readMode == Mode::Silent) return;
    readPending_ = false;
    if (readMode == Mode::NotFound || values.count(readCode_) == 0) {
      panels_.Put(readCodeId, "MJC_VAR_READ_CODE", 9992999.0);
      return;
    }
    panels_.Put(readValueId, "MJC_VAR_READ_VALUE", values[readCode_]);
    panels_.Put(readCodeId, "MJC_VAR_READ_CODE", readDoneCode);
  } else if (id == writeCodeId && writePending_) {
    lvar_test::AdvanceTick(tickPerPoll);
    if (writePolls_++ < answerAfterPolls || writeMode == Mode::Silent) return;
    writePending_ = false;
    if (writeMode == Mode::NotFound || values.count(writeCode_) == 0) {
      panels_.Put(writeCodeId, "MJC_VAR_WRITE_CODE", 9992999.0);
      return;
    }
    values[writeCode_] = panels_.Value("MJC_VAR_WRITE_VALUE");
    panels_.Put(writeCodeId, "MJC_VAR_WRITE_CODE", writeDoneCode);
  }
}
