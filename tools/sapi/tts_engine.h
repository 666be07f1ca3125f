// The engine side of SAPI 5: what a text-to-speech engine implements and
// what SAPI hands it. The Windows SDK declares these in its driver-kit header
// (sapiddk.h), which mingw-w64 does not ship; they are declared here from
// Microsoft's published interface documentation: the interface ids, the
// method order of each vtable and the structure layouts. Everything else
// (SPVSTATE, SPEVENT, ISpEventSink, ISpObjectWithToken, ...) comes from
// mingw-w64's sapi.h. tests/windows/sapi_layout_test.cpp holds the layouts
// this file and its users depend on.
#pragma once

#include <windows.h>
// sapi.h needs windows.h first.
#include <sapi.h>

// Real-time requests SAPI makes of a speaking engine (GetActions).
enum SPVESACTIONS : DWORD {
  SPVES_CONTINUE = 0,
  SPVES_ABORT = 1 << 0,
  SPVES_SKIP = 1 << 1,
  SPVES_RATE = 1 << 2,
  SPVES_VOLUME = 1 << 3,
};

// What a skip counts (GetSkipInfo). Only sentences exist.
enum SPVSKIPTYPE { SPVST_SENTENCE = 1 << 0 };

// One piece of the text of a Speak call, with the voice state the XML of the
// call put on it. Bookmarks and silences are fragments too.
struct SPVTEXTFRAG {
  SPVTEXTFRAG* pNext;
  SPVSTATE State;
  LPCWSTR pTextStart;     // not NUL-terminated
  ULONG ulTextLen;        // in UTF-16 code units
  ULONG ulTextSrcOffset;  // of pTextStart in the text given to ISpVoice::Speak
};

// What SAPI gives an engine to write its audio and events to.
MIDL_INTERFACE("9880499B-CCE9-11D2-B503-00C04F797396")
ISpTTSEngineSite : public ISpEventSink {
 public:
  virtual DWORD STDMETHODCALLTYPE GetActions() = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(const void* pBuff, ULONG cb,
                                          ULONG* pcbWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRate(long* pRateAdjust) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVolume(USHORT * pusVolume) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSkipInfo(SPVSKIPTYPE * peType,
                                                long* plNumItems) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompleteSkip(long ulNumSkipped) = 0;
};
__CRT_UUID_DECL(ISpTTSEngineSite, 0x9880499b, 0xcce9, 0x11d2, 0xb5, 0x03, 0x00,
                0xc0, 0x4f, 0x79, 0x73, 0x96)

// The engine itself, created by SAPI from a voice token's CLSID.
MIDL_INTERFACE("A74D7C8E-4CC5-4F2F-A6EB-804DEE18500E")
ISpTTSEngine : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Speak(
      DWORD dwSpeakFlags, REFGUID rguidFormatId,
      const WAVEFORMATEX* pWaveFormatEx, const SPVTEXTFRAG* pTextFragList,
      ISpTTSEngineSite* pOutputSite) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputFormat(
      const GUID* pTargetFmtId, const WAVEFORMATEX* pTargetWaveFormatEx,
      GUID* pOutputFormatId, WAVEFORMATEX** ppCoMemOutputWaveFormatEx) = 0;
};
__CRT_UUID_DECL(ISpTTSEngine, 0xa74d7c8e, 0x4cc5, 0x4f2f, 0xa6, 0xeb, 0x80,
                0x4d, 0xee, 0x18, 0x50, 0x0e)

namespace vesk::sapi {

// The format ids of SAPI's streams (sapi.h names them, sapi.lib defines them).
inline constexpr GUID kFormatWaveFormatEx = {
    0xc31adbae,
    0x527f,
    0x4ff5,
    {0xa2, 0x30, 0xf6, 0x2b, 0xb6, 0x1f, 0xf7, 0x0c}};
inline constexpr GUID kFormatText = {
    0x7ceef9f9,
    0x3d13,
    0x11d2,
    {0x9e, 0xe7, 0x00, 0xc0, 0x4f, 0x79, 0x73, 0x96}};

// The COM class of Vesk's SAPI engine, named by every voice token it
// registers.
inline constexpr GUID kEngineClassId = {
    0x2d2b22f7,
    0x0ae3,
    0x4520,
    {0x8a, 0xf1, 0x23, 0xe0, 0xcd, 0x08, 0x2b, 0xbd}};

}  // namespace vesk::sapi
