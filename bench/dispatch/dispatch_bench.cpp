// The dispatch layer's share of a script call: name lookup, argument checks
// and conversion, result. The target does nothing, so the figures are the
// layer's own cost per call.
#include <benchmark/benchmark.h>

#include <string>

#include "control/dispatch/dispatcher.h"

namespace {

using lumvara::control::DispatchArgs;
using lumvara::control::DispatchValue;

class NullTarget : public lumvara::control::DispatchTarget {
 public:
  DispatchValue InvokeMethod(int, const DispatchArgs& args) override {
    return DispatchValue::Long(static_cast<int32_t>(args.size()) + 65536);
  }
  DispatchValue GetProperty(int) override { return DispatchValue::Long(1); }
  void PutProperty(int, const DispatchValue&) override {}
};

void BM_LookupAndInvokeGetVersion(benchmark::State& state) {
  NullTarget target;
  for (auto _ : state) {
    const int id = lumvara::control::LookupDispid("GetVersion");
    LumvaraVariant result{};
    lumvara::control::Invoke(target, id, LUMVARA_DISPATCH_METHOD, nullptr, 0, &result);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_LookupAndInvokeGetVersion);

void BM_PropertyGet(benchmark::State& state) {
  NullTarget target;
  const int id = lumvara::control::LookupDispid("SoundState");
  for (auto _ : state) {
    LumvaraVariant result{};
    lumvara::control::Invoke(target, id, LUMVARA_DISPATCH_PROPERTYGET, nullptr, 0, &result);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_PropertyGet);

void BM_InvokePlayVideoArguments(benchmark::State& state) {
  NullTarget target;
  const LumvaraVariant args[] = {{LUMVARA_VT_BSTR, 0, "admin"},     {LUMVARA_VT_BSTR, 0, "password"},
                                 {LUMVARA_VT_BSTR, 0, "127.0.0.1"}, {LUMVARA_VT_I4, 8080, nullptr},
                                 {LUMVARA_VT_I4, 0, nullptr},       {LUMVARA_VT_I4, 0, nullptr}};
  for (auto _ : state) {
    LumvaraVariant result{};
    lumvara::control::Invoke(target, 1, LUMVARA_DISPATCH_METHOD, args, 6, &result);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_InvokePlayVideoArguments);

}  // namespace

BENCHMARK_MAIN();
