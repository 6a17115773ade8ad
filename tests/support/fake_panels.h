// A substitute for the simulator's panel-service table, the seam through which
// a program plays the loaded aircraft: variables at the ids the test chooses
// (gaps allowed), values the test sets, a hook before each read, call
// counters, and the four MJC handshake variables answered by rules the test
// sets. While it lives, this program's `Panels` points at its table (defined
// in fake_panels.cpp); Table() serves a loaded module's `Panels` as well. One
// at a time: the entries reach the live instance through a module-wide pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "lvar/panel_table.h"

class FakePanels {
 public:
  // What the aircraft shows in a code variable: the work is done; no MJC
  // variable has that code.
  static constexpr double kMjcDone = 9991999.0, kMjcNotFound = 9992999.0;

  FakePanels();
  ~FakePanels();
  FakePanels(const FakePanels&) = delete;
  FakePanels& operator=(const FakePanels&) = delete;

  void* Table() { return table_; }

  // Puts a variable at `id`, replacing what was there.
  void Put(int32_t id, const std::string& name, double value = 0.0);
  // Takes the variable of that name away; Move gives it another id.
  void Remove(const std::string& name);
  void Move(const std::string& name, int32_t id);
  void Set(const std::string& name, double value);
  double Value(const std::string& name) const;

  // Called with the id before each read returns its value.
  std::function<void(int32_t id)> beforeRead;
  std::atomic<int> reads{0}, nameQueries{0};

  // The handshake variables MJC_VAR_READ_VALUE, _READ_CODE, _WRITE_VALUE and
  // _WRITE_CODE at ids firstId to firstId + 3. A code written into READ_CODE
  // (WRITE_CODE) starts a read (a write, which takes WRITE_VALUE at once),
  // answered at the second read of that code variable: for a code in
  // `mjcValues`, the value goes into READ_VALUE (WRITE_VALUE is stored) and
  // the code variable shows mjcReadDone (mjcWriteDone); for any other code,
  // kMjcNotFound. A silent aircraft never answers. Every read of a code
  // variable calls onMjcPoll: time passes while the bridge polls.
  void EnableMjc(int32_t firstId = 60000);
  std::map<uint32_t, double> mjcValues;
  double mjcReadDone = kMjcDone, mjcWriteDone = kMjcDone;
  bool mjcSilent = false;
  std::function<void()> onMjcPoll;

 private:
  struct Pending {
    bool active = false;
    uint32_t code = 0;
    double written = 0.0;
    int polls = 0;
  };
  static int32_t Lookup(const char* name);
  static double Read(int32_t id);
  static void Write(int32_t id, double value);
  static const char* Name(int32_t id);
  void Answer(int32_t codeId, int32_t valueId, Pending& pending);

  struct Variable {
    std::string name;  // empty: no variable at this id
    double value = 0.0;
  };
  void* table_[panel_table::kEntries] = {};
  std::vector<Variable> byId_;
  std::unordered_map<std::string, int32_t> ids_;
  int32_t mjcFirst_ = -1;
  Pending read_, write_;
};
