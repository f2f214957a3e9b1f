// TProgressRec: what every reader and writer gets to report per cent, to learn
// that the user stopped, and to report failure with a short reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pravik {

// Called as (Sender, per) with per from 0 to 100.
using TIEProgressEvent = std::function<void(void* Sender, int per)>;
// Called as (Sender) when a load or save ends.
using TIEFinishWorkEvent = std::function<void(void* Sender)>;

struct TProgressRec {
  TIEProgressEvent Callback;        // empty: the codec reports nothing
  void* Sender = nullptr;           // the component
  std::int32_t Counter = 0;         // free for the codec: units done
  std::int32_t Total = 0;           // free for the codec: total units
  double PerCentFactor = 0.0;       // typically 100 / rows; per = trunc(done * factor)
  bool* AbortFlag = nullptr;        // the component's abort flag
  std::string* AbortReason = nullptr;  // where a failure's reason is kept (may be null)

  // True when the flag is set: a codec stops at its next progress point.
  bool Aborted() const { return AbortFlag != nullptr && *AbortFlag; }

  // Reports per cent when a callback is set.
  void Report(int per) const {
    if (Callback) Callback(Sender, per);
  }
  // Reports trunc(done * PerCentFactor).
  void ReportDone(std::int64_t done) const {
    if (Callback) Callback(Sender, static_cast<int>(static_cast<double>(done) * PerCentFactor));
  }

  // Bad or unsupported data: sets the abort flag and keeps the first reason
  // given (later ones are usually consequences of the first).
  void Fail(std::string_view reason) const {
    if (AbortFlag != nullptr) *AbortFlag = true;
    if (AbortReason != nullptr && AbortReason->empty()) AbortReason->assign(reason);
  }
};

}  // namespace pravik
