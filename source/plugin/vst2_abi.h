// The VST 2.4 binary interface as this plug-in and our host harness use it: the effect record,
// the dispatcher and host-callback opcodes, the event records and the editor rectangle.
//
// Written from the published calling conventions: every layout note gives the offsets a 64-bit
// host reads. Nothing here is specific to the instrument.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vst2 {

struct AEffect;

// Host callback and dispatcher share one shape: (effect, opcode, index, value, ptr, opt) -> result.
using HostCallback = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                  void* ptr, float opt);
using DispatcherProc = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                    void* ptr, float opt);
using ProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs, int32_t frames);
using ProcessDoubleProc = void (*)(AEffect* effect, double** inputs, double** outputs,
                                   int32_t frames);
using SetParameterProc = void (*)(AEffect* effect, int32_t index, float value);
using GetParameterProc = float (*)(AEffect* effect, int32_t index);

// Four characters read as a big-endian integer, as hosts expect ids and magic numbers.
constexpr int32_t fourcc(const char (&c)[5]) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint8_t>(c[0])) << 24) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 16) |
                              (static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 8) |
                              static_cast<uint32_t>(static_cast<uint8_t>(c[3])));
}

constexpr int32_t kEffectMagic = fourcc("VstP");
constexpr int32_t kIdentifyAnswer = fourcc("NvEf");  // the answer hosts expect to opcode 22

// The effect record (192 bytes on 64-bit hosts). The host reads the counts and flags once after
// the entry point returns and calls through the function pointers for everything else.
struct AEffect {
  int32_t magic;                      // 0: "VstP"
  DispatcherProc dispatcher;          // 8
  ProcessProc process;                // 16: deprecated accumulating process; does nothing here
  SetParameterProc setParameter;      // 24
  GetParameterProc getParameter;      // 32
  int32_t numPrograms;                // 40
  int32_t numParams;                  // 44
  int32_t numInputs;                  // 48
  int32_t numOutputs;                 // 52
  int32_t flags;                      // 56
  intptr_t resvd1;                    // 64
  intptr_t resvd2;                    // 72
  int32_t initialDelay;               // 80
  int32_t realQualities;              // 84: deprecated
  int32_t offQualities;               // 88: deprecated
  float ioRatio;                      // 92: deprecated
  void* object;                       // 96: the plug-in object behind the record
  void* user;                         // 104: free for the host
  int32_t uniqueID;                   // 112
  int32_t version;                    // 116
  ProcessProc processReplacing;       // 120
  ProcessDoubleProc processDoubleReplacing;  // 128
  char future[56];                    // 136
};

static_assert(sizeof(void*) != 8 || sizeof(AEffect) == 192, "effect record is 192 bytes on 64-bit");
static_assert(sizeof(void*) != 8 || offsetof(AEffect, numPrograms) == 40);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, object) == 96);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, uniqueID) == 112);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, processReplacing) == 120);

// Flags of the effect record.
enum EffectFlags : int32_t {
  effFlagsHasEditor = 1 << 0,
  effFlagsCanReplacing = 1 << 4,
  effFlagsProgramChunks = 1 << 5,
  effFlagsIsSynth = 1 << 8,
  effFlagsCanDoubleReplacing = 1 << 12,
};

// Dispatcher opcodes (host -> plug-in).
enum DispatcherOpcode : int32_t {
  effOpen = 0,
  effClose = 1,  // the plug-in destroys itself; the record is gone afterwards
  effSetProgram = 2,
  effGetProgram = 3,
  effSetProgramName = 4,
  effGetProgramName = 5,
  effGetParamLabel = 6,
  effGetParamDisplay = 7,
  effGetParamName = 8,
  effSetSampleRate = 10,
  effSetBlockSize = 11,
  effMainsChanged = 12,
  effEditGetRect = 13,
  effEditOpen = 14,
  effEditClose = 15,
  effEditIdle = 19,
  effIdentify = 22,
  effGetChunk = 23,
  effSetChunk = 24,
  effProcessEvents = 25,
  effCanBeAutomated = 26,
  effGetPlugCategory = 35,
  effGetEffectName = 45,
  effGetVendorString = 47,
  effGetProductString = 48,
  effGetVendorVersion = 49,
  effVendorSpecific = 50,
  effCanDo = 51,
  effGetParameterProperties = 56,
  effGetVstVersion = 58,
  effEditKeyDown = 59,
  effEditKeyUp = 60,
  effSetEditKnobMode = 61,
  effStartProcess = 71,
  effStopProcess = 72,
  effGetNumMidiInputChannels = 78,
  effGetNumMidiOutputChannels = 79,
};

// Host callback opcodes (plug-in -> host).
enum HostOpcode : int32_t {
  audioMasterAutomate = 0,  // index = parameter, opt = normalised value
  audioMasterVersion = 1,   // non-zero: a host is present
  audioMasterIdle = 3,
  audioMasterSizeWindow = 15,  // index = width, value = height
  audioMasterCanDo = 37,       // ptr = text
  audioMasterBeginEdit = 43,   // index = parameter
  audioMasterEndEdit = 44,     // index = parameter
};

constexpr int32_t kPlugCategorySynth = 2;
constexpr int32_t kVstVersion = 2400;

// Text sizes hosts provide (terminator included).
constexpr int kMaxParamStrLen = 8;
constexpr int kMaxProgNameLen = 24;
constexpr int kMaxEffectNameLen = 32;
constexpr int kMaxVendorStrLen = 64;
constexpr int kMaxProductStrLen = 64;

// Events handed over by opcode 25. A host allocates VstEvents with as many pointers as it needs;
// the declared array of two is only the traditional minimum.
enum EventType : int32_t { kVstMidiType = 1, kVstSysExType = 6 };

struct VstEvent {
  int32_t type;
  int32_t byteSize;
  int32_t deltaFrames;  // frame offset within the next block
  int32_t flags;
  char data[16];
};

struct VstMidiEvent {
  int32_t type;  // kVstMidiType
  int32_t byteSize;
  int32_t deltaFrames;
  int32_t flags;
  int32_t noteLength;
  int32_t noteOffset;
  char midiData[4];  // status, data 1, data 2, 0
  char detune;
  char noteOffVelocity;
  char reserved1;
  char reserved2;
};
static_assert(sizeof(VstMidiEvent) == 32);

struct VstEvents {
  int32_t numEvents;
  intptr_t reserved;
  VstEvent* events[2];
};
static_assert(sizeof(void*) != 8 || offsetof(VstEvents, events) == 16);

// Editor rectangle, in pixels, as 16-bit fields in the order top, left, bottom, right.
struct ERect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

// Key record built from opcodes 59/60: index = character, value = virtual key, opt = modifiers.
struct VstKeyCode {
  int32_t character;
  unsigned char virt;
  unsigned char modifier;
};

}  // namespace vst2
