// Stamping: the seven configuration slots of a setup executable.
//
// The stub carries seven fixed-size char arrays, one after the other, each
// initialised with its marker text followed by zero bytes up to its capacity.
// Stamping writes a zero-terminated value into a slot and clears the rest of
// it, so the slot no longer holds its marker.
//
// Locating the block: in a Windows executable whose section table has a
// section ".qorcfg" (the stub keeps the block alone there), the block is the
// start of that section's file data, however many slots are stamped.
// Otherwise every marker that survives gives a candidate block start (its
// position minus the slot's offset in the block). A candidate counts only when
// all seven slots there are well formed: a zero byte within the capacity and
// nothing but zero bytes after it. Exactly one distinct candidate must remain.
// Such a file whose seven slots have all been stamped has no marker left and
// cannot be located again. When the file carries an appended archive, only
// the bytes before the archive are searched, so a payload that itself contains
// a stub never confuses the search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/StampedSlots.h"

namespace qorpack {

struct SlotSpec {
    const char* marker;
    unsigned capacity;  // bytes, terminating zero included
    unsigned offset;    // from the start of the slot block
};

constexpr int kSlotCount = kStampedSlotCount;
constexpr unsigned kSlotBlockSize = kStampedBlockSize;

// The slots in block order.
const SlotSpec& GetSlotSpec(int index);

// Index of the slot whose marker is `marker` (exact, case-sensitive), or -1.
int FindSlotByMarker(const std::string& marker);

struct SlotAssignment {
    int slot = -1;
    std::string value;
};

// Parses one "MARKER=VALUE" argument. Returns false with a message in *error
// for a missing '=', an empty or unknown marker, or a value longer than the
// slot's capacity - 1; *out is then unspecified.
bool ParseSlotAssignment(const std::string& arg, SlotAssignment* out, std::string* error);

// Checks a whole list: every assignment valid and no slot given twice.
// Returns false with a message naming the offending marker.
bool CheckSlotAssignments(const std::vector<SlotAssignment>& list, std::string* error);

// Searches `size` bytes (the first byte being at file position `base`) for the
// slot block. Adds every distinct well-formed candidate's file position to
// *found (no duplicates). Never reads outside the buffer.
void FindSlotBlocksInBuffer(const unsigned char* data, size_t size, uint64_t base,
                            std::vector<uint64_t>* found);

// Reads the PE headers in head[0..size): true with *offset set to the file
// position of section kStampedSectionName's data when it holds a whole block that
// ends at or before `limit`. False for any other file. Never reads past size.
bool FindSlotSection(const unsigned char* head, size_t size, uint64_t limit, uint64_t* offset);

// True when the kSlotBlockSize bytes at `block` form a well-formed slot block.
bool IsWellFormedBlock(const unsigned char* block);

// Writes the assignments into a block held in memory (kSlotBlockSize bytes).
// The assignments must have passed CheckSlotAssignments.
void ApplySlotAssignments(unsigned char* block, const std::vector<SlotAssignment>& list);

struct SlotState {
    bool holdsMarker = false;
    std::string value;  // the stamped value when !holdsMarker
};

// Reads the seven slot states of a block held in memory.
void ReadSlotStates(const unsigned char* block, SlotState states[kSlotCount]);

// File level. Locates the slot block of the file at `path`. Returns false with
// a message (unreadable file, no block, several candidates) in *error.
bool LocateSlotBlock(const char* path, uint64_t* offset, std::string* error);

// Reads the block at `offset` of an open file into block[kSlotBlockSize].
// Returns false with a message when the bytes cannot be read.
bool ReadBlockAt(const char* path, uint64_t offset, unsigned char* block, std::string* error);

// Overwrites the slot block of the file at `path` (normally a temporary copy)
// with the assignments. Locates the block itself. Returns false with a message
// on any failure; the file may then be partly written, so callers stamp a copy.
bool StampFileInPlace(const char* path, const std::vector<SlotAssignment>& list,
                      std::string* error);

// Checks a file given as `build --stub`: a PE image (MZ header whose
// e_lfanew leads to "PE\0\0" within the file) that holds the slot block, and
// not signed (a signature would point at a certificate table that the
// appended archive leaves in the middle of the setup). False with a message
// saying which of these fails.
bool CheckStub(const char* path, std::string* error);

}  // namespace qorpack
