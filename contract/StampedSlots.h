// StampedSlots.h: seven fixed-size text slots in the setup executable's
// writable initialised data, which the packaging tool overwrites in each
// built setup. This header is the one description of their layout, shared
// by the setup (which reads them) and qorpack (which writes them); it is
// portable C++ with no Windows dependency.
//
//   offset  capacity  marker               meaning
//        0        40  TVIID_INST_NAME      install name (display name)
//       40        32  TVIID_RCV_REG_KEY    receiver name (registry/log key)
//       72        64  TVIID_RCV_DEF_DIR    receiver default folder
//      136       128  TVIID_APP_REG_KEY    application key list ("a|b|c")
//      264        32  TVIID_APP_LOC_ITEM   application location value name
//      296        32  TVIID_APP_NAME       application display name
//      328        32  TVIID_APP_EXE        application program file name
//      360            (end of the block)
//
// Each slot starts out as its marker text followed by zero bytes up to its
// capacity. A stamped value is zero-terminated and at most capacity - 1
// characters long. A slot whose zero-terminated content equals its marker
// exactly still holds its marker (is unstamped); anything else, including
// the empty string, is a stamped value.
//
// In the executable the block lives alone in the writable data section
// named ".qorcfg", so the packaging tool can find it by section even after
// every slot has been stamped.
#pragma once

#include <cstddef>

constexpr int kStampedSlotCount = 7;

struct StampedSlotInfo {
    const char* marker;  // marker text, also the slot's name
    size_t offset;       // byte offset within the block
    size_t capacity;     // bytes, including the terminating zero
};

// In block order; offsets are the running sum of the capacities.
constexpr StampedSlotInfo kStampedSlots[kStampedSlotCount] = {
    {"TVIID_INST_NAME", 0, 40},      {"TVIID_RCV_REG_KEY", 40, 32},   {"TVIID_RCV_DEF_DIR", 72, 64},
    {"TVIID_APP_REG_KEY", 136, 128}, {"TVIID_APP_LOC_ITEM", 264, 32}, {"TVIID_APP_NAME", 296, 32},
    {"TVIID_APP_EXE", 328, 32},
};

constexpr size_t kStampedBlockSize = 360;
// As the section table holds it: 8 bytes, zero-padded.
constexpr char kStampedSectionName[8] = {'.', 'q', 'o', 'r', 'c', 'f', 'g', 0};

// The block as the setup holds it: char arrays only, so no padding.
struct StampedSlots {
    char installName[40];
    char receiverName[32];
    char receiverDefaultFolder[64];
    char appKeyList[128];
    char appLocationValue[32];
    char appName[32];
    char appExe[32];
};

static_assert(sizeof(StampedSlots) == kStampedBlockSize, "slots must be contiguous");
static_assert(offsetof(StampedSlots, receiverName) == 40, "slot order");
static_assert(offsetof(StampedSlots, receiverDefaultFolder) == 72, "slot order");
static_assert(offsetof(StampedSlots, appKeyList) == 136, "slot order");
static_assert(offsetof(StampedSlots, appLocationValue) == 264, "slot order");
static_assert(offsetof(StampedSlots, appName) == 296, "slot order");
static_assert(offsetof(StampedSlots, appExe) == 328, "slot order");
