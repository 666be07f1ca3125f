// The binary shape of SAPI's engine interfaces as tools/sapi/tts_engine.h
// declares them and as mingw-w64's sapi.h declares what it uses: structure
// sizes and field offsets, vtable slots as a C caller reaches them, and the
// interface and format ids. SAPI itself is built by another compiler, so a
// field or slot out of place here would be read wrongly by every caller.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tts_engine.h"

namespace vesk::test {
namespace {

// The documented layouts, field by field in natural alignment.
//   SPVSTATE: eAction (enum), LangID (WORD), wReserved (WORD), EmphAdj,
//   RateAdj (long), Volume (ULONG), PitchAdj {MiddleAdj, RangeAdj} (long
//   each), SilenceMSecs (ULONG), pPhoneIds (pointer), ePartOfSpeech (enum),
//   Context (three pointers): 32 bytes of 4-byte fields, then a pointer, an
//   enum and three pointers.
//   SPVTEXTFRAG: pNext (pointer), State (SPVSTATE), pTextStart (pointer),
//   ulTextLen, ulTextSrcOffset (ULONG).
//   SPEVENT: eEventId and elParamType (16 bits each), ulStreamNum (ULONG),
//   ullAudioStreamOffset (ULONGLONG), wParam, lParam (pointer-sized).
#if defined(__x86_64__)
// 32 + pointer 8 + enum 4, padded to 48 + 3 x 8.
constexpr std::size_t kStateSize = 72;
constexpr std::size_t kFragTextStart = 80;  // 8 + 72
constexpr std::size_t kFragSize = 96;       // 80 + 8 + 4 + 4
constexpr std::size_t kEventSize = 32;      // 4 + 4 + 8 + 8 + 8
#else
// 32 + pointer 4 + enum 4 + 3 x 4.
constexpr std::size_t kStateSize = 52;
constexpr std::size_t kFragTextStart = 56;  // 4 + 52
constexpr std::size_t kFragSize = 68;       // 56 + 4 + 4 + 4
constexpr std::size_t kEventSize = 24;      // 4 + 4 + 8 + 4 + 4
#endif

static_assert(sizeof(SPVSTATE) == kStateSize);
static_assert(offsetof(SPVSTATE, eAction) == 0);
static_assert(offsetof(SPVSTATE, LangID) == 4);
static_assert(offsetof(SPVSTATE, RateAdj) == 12);
static_assert(offsetof(SPVSTATE, Volume) == 16);
static_assert(offsetof(SPVSTATE, PitchAdj) == 20);
static_assert(offsetof(SPVSTATE, SilenceMSecs) == 28);
static_assert(offsetof(SPVSTATE, pPhoneIds) == 32);

static_assert(sizeof(SPVTEXTFRAG) == kFragSize);
static_assert(offsetof(SPVTEXTFRAG, pNext) == 0);
static_assert(offsetof(SPVTEXTFRAG, State) == sizeof(void*));
static_assert(offsetof(SPVTEXTFRAG, pTextStart) == kFragTextStart);
static_assert(offsetof(SPVTEXTFRAG, ulTextLen) ==
              kFragTextStart + sizeof(void*));
static_assert(offsetof(SPVTEXTFRAG, ulTextSrcOffset) ==
              kFragTextStart + sizeof(void*) + 4);

static_assert(sizeof(SPEVENT) == kEventSize);
static_assert(offsetof(SPEVENT, ulStreamNum) == 4);
static_assert(offsetof(SPEVENT, ullAudioStreamOffset) == 8);
static_assert(offsetof(SPEVENT, wParam) == 16);
static_assert(offsetof(SPEVENT, lParam) == 16 + sizeof(void*));

// The values the engine and SAPI exchange as numbers.
static_assert(SPVES_CONTINUE == 0 && SPVES_ABORT == 1 && SPVES_SKIP == 2 &&
              SPVES_RATE == 4 && SPVES_VOLUME == 8);
static_assert(SPVST_SENTENCE == 1);

// An object whose every method names itself, called through the vtable as
// a C caller does: slot k of the table, with the object as first argument.
template <typename Interface>
class SlotNaming : public Interface {
 public:
  std::vector<std::string> called;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    called.push_back("QueryInterface");
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Named("AddRef"); }
  ULONG STDMETHODCALLTYPE Release() override { return Named("Release"); }

 protected:
  HRESULT Named(const char* name) {
    called.push_back(name);
    return S_OK;
  }
};

class SlotNamingSite : public SlotNaming<ISpTTSEngineSite> {
 public:
  HRESULT STDMETHODCALLTYPE AddEvents(const SPEVENT*, ULONG) override {
    return Named("AddEvents");
  }
  HRESULT STDMETHODCALLTYPE GetEventInterest(ULONGLONG*) override {
    return Named("GetEventInterest");
  }
  DWORD STDMETHODCALLTYPE GetActions() override { return Named("GetActions"); }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
    return Named("Write");
  }
  HRESULT STDMETHODCALLTYPE GetRate(long*) override { return Named("GetRate"); }
  HRESULT STDMETHODCALLTYPE GetVolume(USHORT*) override {
    return Named("GetVolume");
  }
  HRESULT STDMETHODCALLTYPE GetSkipInfo(SPVSKIPTYPE*, long*) override {
    return Named("GetSkipInfo");
  }
  HRESULT STDMETHODCALLTYPE CompleteSkip(long) override {
    return Named("CompleteSkip");
  }
};

class SlotNamingEngine : public SlotNaming<ISpTTSEngine> {
 public:
  HRESULT STDMETHODCALLTYPE Speak(DWORD, REFGUID, const WAVEFORMATEX*,
                                  const SPVTEXTFRAG*,
                                  ISpTTSEngineSite*) override {
    return Named("Speak");
  }
  HRESULT STDMETHODCALLTYPE GetOutputFormat(const GUID*, const WAVEFORMATEX*,
                                            GUID*, WAVEFORMATEX**) override {
    return Named("GetOutputFormat");
  }
};

// The function in vtable slot `slot` of object, as the C type Fn.
template <typename Fn>
Fn Slot(void* object, int slot) {
  return reinterpret_cast<Fn>((*static_cast<void***>(object))[slot]);
}

TEST(SapiLayout, EngineSiteSlotsAreInTheDocumentedOrder) {
  SlotNamingSite site;
  void* p = static_cast<ISpTTSEngineSite*>(&site);
  void* out = nullptr;
  ULONGLONG interest = 0;
  ULONG written = 0;
  long number = 0;
  USHORT volume = 0;
  SPVSKIPTYPE type{};
  SPEVENT event{};
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, REFIID, void**)>(p, 0)(
      p, IID_IUnknown, &out);
  Slot<ULONG(STDMETHODCALLTYPE*)(void*)>(p, 1)(p);
  Slot<ULONG(STDMETHODCALLTYPE*)(void*)>(p, 2)(p);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, const SPEVENT*, ULONG)>(p, 3)(
      p, &event, 1);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, ULONGLONG*)>(p, 4)(p, &interest);
  Slot<DWORD(STDMETHODCALLTYPE*)(void*)>(p, 5)(p);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, const void*, ULONG, ULONG*)>(p, 6)(
      p, &event, 0, &written);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, long*)>(p, 7)(p, &number);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, USHORT*)>(p, 8)(p, &volume);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, SPVSKIPTYPE*, long*)>(p, 9)(p, &type,
                                                                      &number);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, long)>(p, 10)(p, 1);
  EXPECT_EQ(site.called,
            (std::vector<std::string>{
                "QueryInterface", "AddRef", "Release", "AddEvents",
                "GetEventInterest", "GetActions", "Write", "GetRate",
                "GetVolume", "GetSkipInfo", "CompleteSkip"}));
}

TEST(SapiLayout, EngineSlotsAreInTheDocumentedOrder) {
  SlotNamingEngine engine;
  void* p = static_cast<ISpTTSEngine*>(&engine);
  void* out = nullptr;
  GUID format{};
  WAVEFORMATEX* wave = nullptr;
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, REFIID, void**)>(p, 0)(
      p, IID_IUnknown, &out);
  Slot<ULONG(STDMETHODCALLTYPE*)(void*)>(p, 1)(p);
  Slot<ULONG(STDMETHODCALLTYPE*)(void*)>(p, 2)(p);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, REFGUID, const WAVEFORMATEX*,
                                   const SPVTEXTFRAG*, void*)>(p, 3)(
      p, 0, format, nullptr, nullptr, nullptr);
  Slot<HRESULT(STDMETHODCALLTYPE*)(void*, const GUID*, const WAVEFORMATEX*,
                                   GUID*, WAVEFORMATEX**)>(p, 4)(
      p, nullptr, nullptr, &format, &wave);
  EXPECT_EQ(engine.called,
            (std::vector<std::string>{"QueryInterface", "AddRef", "Release",
                                      "Speak", "GetOutputFormat"}));
}

GUID Parsed(const wchar_t* text) {
  GUID id{};
  EXPECT_EQ(IIDFromString(text, &id), S_OK) << "cannot parse the id";
  return id;
}

TEST(SapiLayout, InterfaceAndFormatIdsAreTheDocumentedOnes) {
  EXPECT_EQ(__uuidof(ISpTTSEngineSite),
            Parsed(L"{9880499B-CCE9-11D2-B503-00C04F797396}"));
  EXPECT_EQ(__uuidof(ISpTTSEngine),
            Parsed(L"{A74D7C8E-4CC5-4F2F-A6EB-804DEE18500E}"));
  // The site is an event sink first.
  EXPECT_EQ(__uuidof(ISpEventSink),
            Parsed(L"{BE7A9CC9-5F9E-11D2-960F-00C04F8EE628}"));
  EXPECT_EQ(vesk::sapi::kFormatWaveFormatEx,
            Parsed(L"{C31ADBAE-527F-4FF5-A230-F62BB61FF70C}"));
  EXPECT_EQ(vesk::sapi::kFormatText,
            Parsed(L"{7CEEF9F9-3D13-11D2-9EE7-00C04F797396}"));
  EXPECT_EQ(vesk::sapi::kEngineClassId,
            Parsed(L"{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}"));
}

}  // namespace
}  // namespace vesk::test
