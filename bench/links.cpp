// Link opening cost: a whole direct link through ParseSchemeArgs, and one
// envelope alone. Target: a direct link in under 12 microseconds.
#include <benchmark/benchmark.h>

#include <string>

#include "common/app_constants.h"
#include "common/masking.h"
#include "links/envelope.h"
#include "links/scheme_link.h"

namespace {

std::string Key() { return UnmaskConstant(Config::kEnvelopeKey); }

WString DirectLink() {
    const std::string key = Key();
    return ApplicationConstants.schemeWord + u":" + Utf8ToWide(SealEnvelope("pass-through-token-1234", key)) + u":" +
           Utf8ToWide(SealEnvelope("https://cdn.tovani-cdn.test/videos/lesson-01.mp4", key)) + u":" +
           Utf8ToWide(SealEnvelope("https://api.tovani.test", key));
}

void BM_ParseDirectLink(benchmark::State& state) {
    const WString link = DirectLink();
    std::string error;
    for (auto _ : state) {
        const bool ok = ParseSchemeArgs(link, error);
        if (!ok) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_ParseDirectLink)->Unit(benchmark::kMicrosecond);

// The shape browsers hand over: percent-encoded, "+" as "%2B", slashes added.
void BM_ParseMangledLink(benchmark::State& state) {
    WString link = DirectLink();
    WString mangled;
    for (char16_t c : link) {
        if (c == u'+') {
            mangled += u"%2B";
        } else if (c == u'=') {
            mangled += u"%3D";
        } else {
            mangled.push_back(c);
        }
    }
    mangled.insert(ApplicationConstants.schemeWord.size() + 1, u"//");
    mangled += u"/";
    std::string error;
    for (auto _ : state) {
        const bool ok = ParseSchemeArgs(mangled, error);
        if (!ok) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_ParseMangledLink)->Unit(benchmark::kMicrosecond);

void BM_OpenSealedEnvelope(benchmark::State& state) {
    const std::string key = Key();
    const std::string envelope = SealEnvelope("https://cdn.example.org/videos/lesson-01.mp4", key);
    for (auto _ : state) benchmark::DoNotOptimize(OpenSealedEnvelope(envelope, key));
}
BENCHMARK(BM_OpenSealedEnvelope)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
