// The stamped slot block and its reader.
#include "setup/StartUp.h"

#include "contract/StampedSlots.h"
#include "resources/resource.h"
#include "text/ResourceText.h"

// The block the packaging tool overwrites: one struct, so the seven slots
// stay in order with nothing between them, alone in a writable data section
// of its own. Each slot starts as its marker followed by zero bytes.
__attribute__((section(".qorcfg"), used)) StampedSlots gStampedSlots = {
    "TVIID_INST_NAME",    "TVIID_RCV_REG_KEY", "TVIID_RCV_DEF_DIR", "TVIID_APP_REG_KEY",
    "TVIID_APP_LOC_ITEM", "TVIID_APP_NAME",    "TVIID_APP_EXE",
};

namespace {

// The slot's text up to its first zero, never reading past its capacity.
Text SlotText(const char* slot, size_t capacity) {
    size_t n = 0;
    while (n < capacity && slot[n] != '\0') ++n;
    return Text(slot, n);
}

// The slot's stamped value, or fallback when it still holds its marker. The
// marker is compared with the constant copy in kStampedSlots, which stamping
// never touches.
Text SlotValue(const StampedSlots& slots, int index, const Text& fallback) {
    const StampedSlotInfo& info = kStampedSlots[index];
    const char* base = reinterpret_cast<const char*>(&slots);
    Text value = SlotText(base + info.offset, info.capacity);
    return value.Equals(info.marker) ? fallback : value;
}

}  // namespace

void LoadStampedConfigFrom(const StampedSlots& slots, const Text& defaultInstallName,
                           SetupConfig& config) {
    const Text none;
    config.installName = SlotValue(slots, 0, defaultInstallName);
    config.receiverName = SlotValue(slots, 1, none);
    config.receiverDefaultFolder = SlotValue(slots, 2, none);
    config.appKeyList = SlotValue(slots, 3, none);
    config.appLocationValue = SlotValue(slots, 4, none);
    config.appName = SlotValue(slots, 5, none);
    config.appExe = SlotValue(slots, 6, none);
}

void LoadStampedConfig(SetupConfig& config) {
    // Read the block through volatile so the compiler can never fold in the
    // initial marker texts: the bytes are changed in the file, after linking.
    StampedSlots copy;
    const volatile char* from = reinterpret_cast<const volatile char*>(&gStampedSlots);
    char* to = reinterpret_cast<char*>(&copy);
    for (size_t i = 0; i < sizeof(copy); ++i) to[i] = from[i];
    LoadStampedConfigFrom(copy, LoadResourceText(GetModuleHandleA(nullptr), IDS_PRODUCT_NAME),
                          config);
}
